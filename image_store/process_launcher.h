#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <unordered_map>

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
    bool ok() const { return exited && code == 0; }
    QString describe() const;
};

// Starts a command line as a separate process without waiting for it.
class ProcessLauncher {
public:
    using Finished = std::function<void(const ProcessEnd&)>;
    virtual ~ProcessLauncher() = default;
    // Throws LaunchError when the program cannot be started. `finished`, if
    // given, is called on this thread's event loop once the process ended.
    virtual void start(const QString& commandLine, int windowStyle, Finished finished = {}) = 0;
};

// Runs the command without a shell: the text is split on blanks and every
// share path in it is mapped to its local path. The process runs in a session
// of its own, so it outlives this program (a conversion started just before
// the program ends still writes its JPEG), and posix_spawn does not copy the
// program's memory as fork does. Each child is watched through a pidfd on the
// event loop and reaped as it ends: none is left a zombie.
class SpawnLauncher final : public QObject, public ProcessLauncher {
    Q_OBJECT
public:
    explicit SpawnLauncher(const ShareMap& share);
    ~SpawnLauncher() override;
    void start(const QString& commandLine, int windowStyle, Finished finished = {}) override;
    int running() const { return static_cast<int>(m_children.size()); }

private:
    struct Child;
    void reap(int pidfd);

    const ShareMap& m_share;
    std::unordered_map<int, std::unique_ptr<Child>> m_children; // by pidfd
};

} // namespace image_store
