#pragma once

#include <QObject>
#include <QString>

#include <chrono>

#include <functional>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace image_store {

class ShareMap;

class LaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a started process ended.
struct ProcessEnd {
    bool exited = false; // false: killed by a signal
    int code = 0; // exit status, or the signal's number
    // Set when it could not be started: why.
    QString notStarted;
    // Set when it was stopped for running past its limit: the limit.
    std::chrono::milliseconds overran { 0 };
    bool ok() const { return notStarted.isEmpty() && exited && code == 0; }
    QString describe() const;
};

// A process just started, to be watched until it ends.
struct Spawned {
    qint64 pid = 0;
    int pidfd = -1; // -1: it is reaped without a word
    QString program;
    // Longer than this, it is stopped, with all it started; 0: no limit.
    std::chrono::milliseconds limit { 0 };
};

// Starts a command line as a separate process without waiting for it, in two
// steps, because starting reads the program from the share, which may hang:
// prepare() on the caller's thread, the prepared start wherever the caller
// likes, then watch() back on the caller's thread.
class ProcessLauncher {
public:
    using Finished = std::function<void(const ProcessEnd&)>;
    // Throws LaunchError when the program cannot be started. Holds copies
    // of all it needs, so it may run on any thread, after the launcher. A
    // process given a limit (0: none) is stopped past it.
    using Prepared = std::function<Spawned(std::chrono::milliseconds limit)>;
    virtual ~ProcessLauncher() = default;
    virtual Prepared prepare(const QString& commandLine, int windowStyle) = 0;
    // `finished`, if given, is called on this thread's event loop once the
    // process ended, or was stopped at its limit.
    virtual void watch(const Spawned& spawned, Finished finished) = 0;
};

// Runs the command without a shell: the text is split on blanks and every
// share path in it is mapped to its local path. The process runs in a session
// of its own, so it outlives this program (a conversion started just before
// the program ends still writes its JPEG), and posix_spawn does not copy the
// program's memory as fork does. Each child is watched through a pidfd on the
// event loop and reaped as it ends: none is left a zombie. One that runs past
// its limit is killed with its whole session: by the watch while this program
// runs, and by a timer started with it when this program is gone.
class SpawnLauncher final : public QObject, public ProcessLauncher {
    Q_OBJECT
public:
    explicit SpawnLauncher(const ShareMap& share);
    ~SpawnLauncher() override;
    // A command whose program is `sharePath` (compared without regard to
    // case, as the file server does) runs `localProgram` instead, with the
    // same arguments: programs installed with this one are not taken from
    // the share.
    void runInstead(const QString& sharePath, const QString& localProgram);
    Prepared prepare(const QString& commandLine, int windowStyle) override;
    void watch(const Spawned& spawned, Finished finished) override;
    int running() const { return static_cast<int>(m_children.size()); }

private:
    struct Child;
    void reap(int pidfd);
    void stop(int pidfd);

    const ShareMap& m_share;
    std::vector<std::pair<QString, QString>> m_installed; // share path, local program
    std::unordered_map<int, std::unique_ptr<Child>> m_children; // by pidfd
};

} // namespace image_store
