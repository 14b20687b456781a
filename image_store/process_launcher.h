#pragma once

#include <QString>

#include <stdexcept>

namespace image_store {

class ShareMap;

class LaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Starts a command line as a separate process without waiting for it.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Throws LaunchError when the program cannot be started.
    virtual void start(const QString& commandLine, int windowStyle) = 0;
};

// Runs the command without a shell: the text is split on blanks and every
// share path in it is mapped to its local path. The process is detached, so
// it leaves no zombie behind and outlives this program: a conversion started
// just before the program ends still writes its JPEG.
class DetachedLauncher final : public ProcessLauncher {
public:
    explicit DetachedLauncher(const ShareMap& share) : m_share(share) {}
    void start(const QString& commandLine, int windowStyle) override;

private:
    const ShareMap& m_share;
};

} // namespace image_store
