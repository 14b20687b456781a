// Chained captures (Yes to the next number, Yes to take it, ...) on the
// installed program, with the process's resources read from /proc at
// checkpoints. Each sample's files are removed a few captures later so the
// disk does not fill; nothing else touches the program.

#include "bench_driver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <set>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e;

namespace {

struct Resources {
    long rssKb = 0;
    int threads = 0;
    int openFiles = 0;
    int children = 0; // processes whose parent is the program, zombies included
    int converters = 0; // converter processes anywhere, running
    int zombies = 0; // ... and ended, not yet reaped
};

Resources measure(qint64 pid)
{
    Resources r;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                r.rssKb = line.mid(6).trimmed().split(' ').first().toLong();
            else if (line.startsWith("Threads:"))
                r.threads = line.mid(8).trimmed().toInt();
        }
    }
    r.openFiles = static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                                       .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                                       .size());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const int close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            ++r.children;
        if (text.contains("(imgcon32.exe)"))
            ++(fields.value(0) == "Z" ? r.zombies : r.converters);
    }
    return r;
}

// The converters are detached: they end as orphans, and reaping orphans is the
// job of the session's init. Stand in for it, so that a container whose PID 1
// does not reap shows no growing pile of zombies that the program never owned.
void reapOrphanedConverters()
{
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!numeric || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (text.contains("(imgcon32.exe)") && fields.value(0) == "Z"
            && fields.value(1).toLongLong() == ::getpid())
            ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
    }
}

QString sampleNumber(int n)
{
    return QStringLiteral("%1").arg(70100000 + n, 8, 10, QLatin1Char('0'));
}

void removeSample(int n)
{
    for (const char* name : { "CLR_%1_01.bmp", "BTM_%1_01.bmp", "CLR_%1_01.jpg", "BTM_%1_01.jpg" })
        QFile::remove(Share::file(QString::fromLatin1(name).arg(sampleNumber(n))));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    std::set<int> checkpoints { 1, 10, 100, 1000, count };

    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    try {
        Share::reset();
        Desktop desk;
        Program program;
        desk.waitForWindow(ScanTitle);
        std::printf("%8s %10s %8s %10s %9s %11s %8s %10s\n", "captures", "RSS kB", "threads", "open fds",
            "children", "converters", "zombies", "elapsed s");
        QElapsedTimer clock;
        clock.start();
        desk.scan(sampleNumber(0));
        for (int n = 1; n <= count; ++n) {
            desk.answer(TakeTitle, true);
            desk.waitForWindow(IncrementTitle);
            if (n > 5)
                removeSample(n - 6);
            reapOrphanedConverters();
            if (checkpoints.count(n)) {
                // Let this capture's two converters finish first.
                QThread::msleep(500);
                const Resources r = measure(program.pid());
                std::printf("%8d %10ld %8d %10d %9d %11d %8d %10.1f\n", n, r.rssKb, r.threads, r.openFiles,
                    r.children, r.converters, r.zombies, clock.elapsed() / 1000.0);
                std::fflush(stdout);
            }
            desk.answer(IncrementTitle, n < count);
        }
        desk.key(ScanTitle, "alt+x");
        if (!program.waitForExit(10000))
            throw DriverError(QStringLiteral("the program did not end"));
        std::printf("program ended with status %d after %d captures\n", program.exitCode(), count);
        Share::reset();
        return program.exitCode();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "soak: %s\n", error.what());
        return 1;
    }
}
