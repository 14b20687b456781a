#include "image_store/process_launcher.h"

#include "image_store/share_log.h"
#include "image_store/share_path.h"
#include "image_store/unique_fd.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace image_store {

QString ProcessEnd::describe() const
{
    if (!notStarted.isEmpty())
        return QStringLiteral("could not be started: ") + notStarted;
    if (overran.count() > 0)
        return QStringLiteral("ran past its limit of %1 ms and was stopped").arg(overran.count());
    if (exited)
        return QStringLiteral("exited with status %1").arg(code);
    const char* name = ::sigdescr_np(code);
    return QStringLiteral("killed by signal %1 (%2)").arg(code).arg(QString::fromLatin1(name ? name : "?"));
}

struct SpawnLauncher::Child {
    UniqueFd pidfd;
    Spawned spawned;
    Finished finished;
    QTimer limit;
    bool stopped = false;
    // Declared after the pidfd, so it goes before the fd is closed.
    std::unique_ptr<QSocketNotifier> notifier;
};

namespace {

void checkRunnable(const QString& program)
{
    const QFileInfo info(program);
    if (!info.exists())
        throw LaunchError("Cannot start " + program.toStdString() + ": the program does not exist");
    if (!info.isFile() || !info.isExecutable())
        throw LaunchError("Cannot start " + program.toStdString() + ": the file is not executable");
}

// Its own session, so no signal meant for this program's group reaches it;
// no signal blocked, and those this program ignores back to their defaults.
class SpawnSettings {
public:
    SpawnSettings()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(
            &attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGXFSZ);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
    }
    ~SpawnSettings()
    {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

// A process that must not outlive this program by more than its limit runs
// under timeout(1), which kills its session a little after the watch would:
// while this program runs, the watch stops it and tells why.
QStringList boundedToOutlive(std::chrono::milliseconds limit)
{
    constexpr qint64 WatchFirstMs = 1000;
    const qint64 seconds = (limit.count() + WatchFirstMs + 999) / 1000;
    return { QStringLiteral("/usr/bin/timeout"), QStringLiteral("--signal=KILL"),
        QString::number(seconds) + QLatin1Char('s') };
}

Spawned spawn(const QStringList& words, std::chrono::milliseconds limit)
{
    const QString program = words.first();
    checkRunnable(program);
    std::vector<QByteArray> encoded;
    for (const QString& word : (limit.count() > 0 ? boundedToOutlive(limit) : QStringList()) + words)
        encoded.push_back(QFile::encodeName(word));
    std::vector<char*> argv;
    for (QByteArray& word : encoded)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const SpawnSettings settings;
    pid_t pid = 0;
    const int error
        = posix_spawn(&pid, argv[0], &settings.actions, &settings.attributes, argv.data(), environ);
    if (error != 0)
        throw LaunchError("Cannot start " + program.toStdString() + ": " + std::strerror(error));

    Spawned spawned { pid, static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)), program, limit };
    if (spawned.pidfd < 0) {
        // Without a pidfd the child is still reaped, by a blocking wait on
        // a thread of its own.
        qCWarning(lcShare, "cannot watch %s (pid %d): %s", qPrintable(program), pid, std::strerror(errno));
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    }
    return spawned;
}

} // namespace

SpawnLauncher::SpawnLauncher(const ShareMap& share)
    : m_share(share)
{
}

// Children go on without us; only the watch ends.
SpawnLauncher::~SpawnLauncher() = default;

void SpawnLauncher::runInstead(const QString& sharePath, const QString& localProgram)
{
    m_installed.emplace_back(sharePath, localProgram);
}

ProcessLauncher::Prepared SpawnLauncher::prepare(const QString& commandLine, int windowStyle)
{
    // The style is how the converter's window opens; a converter here has
    // no window, so the style has no meaning.
    Q_UNUSED(windowStyle);

    QStringList words = commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        throw LaunchError("Cannot start an empty command");
    for (QString& word : words) {
        if (ShareMap::isSharePath(word))
            word = m_share.toLocal(word);
    }
    const QString named = commandLine.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    for (const auto& [sharePath, localProgram] : m_installed)
        if (named.compare(sharePath, Qt::CaseInsensitive) == 0)
            words.first() = localProgram;
    return [words](std::chrono::milliseconds limit) { return spawn(words, limit); };
}

void SpawnLauncher::watch(const Spawned& spawned, Finished finished)
{
    if (spawned.pidfd < 0)
        return;
    auto child = std::make_unique<Child>();
    child->pidfd.reset(spawned.pidfd);
    child->spawned = spawned;
    child->finished = std::move(finished);
    const int fd = spawned.pidfd;
    child->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(child->notifier.get(), &QSocketNotifier::activated, this, [this, fd] { reap(fd); });
    if (spawned.limit.count() > 0) {
        child->limit.setSingleShot(true);
        connect(&child->limit, &QTimer::timeout, this, [this, fd] { stop(fd); });
        child->limit.start(spawned.limit);
    }
    m_children.emplace(fd, std::move(child));
}

void SpawnLauncher::stop(int pidfd)
{
    const auto found = m_children.find(pidfd);
    if (found == m_children.end())
        return;
    Child& child = *found->second;
    qCWarning(lcShare, "%s (pid %lld) ran past its limit of %lld ms: it is stopped",
        qPrintable(child.spawned.program), child.spawned.pid,
        static_cast<long long>(child.spawned.limit.count()));
    child.stopped = true;
    // It leads a session of its own; until it is reaped its id is not
    // reused, so the group is still its.
    ::kill(-static_cast<pid_t>(child.spawned.pid), SIGKILL);
    // Told now: one stuck on a server that hangs dies only when the server
    // answers, and is then reaped without a word.
    ProcessEnd end;
    end.code = SIGKILL;
    end.overran = child.spawned.limit;
    if (const Finished finished = std::exchange(child.finished, nullptr))
        finished(end);
}

void SpawnLauncher::reap(int pidfd)
{
    const auto found = m_children.find(pidfd);
    if (found == m_children.end())
        return;
    siginfo_t info {};
    if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) != 0
        || info.si_pid == 0)
        return;
    std::unique_ptr<Child> child = std::move(found->second);
    m_children.erase(found);
    child->notifier.reset();

    ProcessEnd end;
    end.exited = info.si_code == CLD_EXITED;
    end.code = info.si_status;
    if (child->stopped)
        return;
    if (!end.ok())
        qCWarning(lcShare, "%s (pid %lld) %s", qPrintable(child->spawned.program), child->spawned.pid,
            qPrintable(end.describe()));
    if (child->finished)
        child->finished(end);
}

} // namespace image_store
