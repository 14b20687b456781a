#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>

// Processes whose command line mentions the given path, other than this one:
// the converters launched on a share's files that are still at work. The
// converters run detached, so their temporary files are only final once
// none is left. A zombie has an empty command line and is not counted.
inline int processesMentioning(const QString& path)
{
    const QByteArray needle = QFile::encodeName(path);
    const QString self = QString::number(QCoreApplication::applicationPid());
    int count = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        pid.toLongLong(&isPid);
        if (!isPid || pid == self)
            continue;
        QFile cmdline(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
            ++count;
    }
    return count;
}
