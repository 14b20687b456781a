#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>

namespace camera {

// Waits for a camera on the user-interface thread without stopping it: the
// event loop runs, so the live view goes on painting, until what is awaited
// has happened or the bound has passed. Whoever observes the waits is told
// around each one and then takes the operator's input itself; without an
// observer, input waits until the wait is over.
class CameraWait final : public QObject {
    Q_OBJECT
public:
    // Any thread: something a wait may be waiting for has happened.
    void wake();
    // True once `done` holds, false when the bound passed first.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds bound);
    void observe(std::function<void()> started, std::function<void()> ended);

signals:
    void woken();

private:
    std::atomic<int> m_waiting { 0 };
    std::atomic<bool> m_wakePending { false };
    std::function<void()> m_started;
    std::function<void()> m_ended;
};

} // namespace camera
