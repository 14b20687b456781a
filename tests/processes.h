#pragma once

// What the tests learn of other processes, from /proc.

#include <QCoreApplication>
#include <QDir>
#include <QFile>

// Calls `each` with the id of every process there is.
template <typename Each> void forEachProcess(Each each)
{
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        pid.toLongLong(&isPid);
        if (isPid)
            each(pid);
    }
}

// Processes whose command line mentions the given path, other than this one:
// the converters launched on a share's files that are still at work. The
// converters run detached, so their temporary files are only final once
// none is left. A zombie has an empty command line and is not counted, nor
// is a process under another root (a suite run in a chroot beside this one
// names the same paths).
inline int processesMentioning(const QString& path)
{
    const QByteArray needle = QFile::encodeName(path);
    const QString self = QString::number(QCoreApplication::applicationPid());
    const QString root = QFile::symLinkTarget(QStringLiteral("/proc/self/root"));
    int count = 0;
    forEachProcess([&](const QString& pid) {
        const QString dir = QStringLiteral("/proc/") + pid;
        const QString itsRoot = QFile::symLinkTarget(dir + QStringLiteral("/root"));
        if (!itsRoot.isEmpty() && itsRoot != root)
            return;
        QFile cmdline(dir + QStringLiteral("/cmdline"));
        if (pid != self && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
            ++count;
    });
    return count;
}

// This process's children that have ended and not been reaped.
inline int zombieChildren()
{
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    int count = 0;
    forEachProcess([&](const QString& pid) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return;
        // After the command's name in parentheses: state, parent.
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        if (fields.size() > 2 && fields[1] == "Z" && fields[2] == self)
            ++count;
    });
    return count;
}
