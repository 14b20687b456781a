#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

class QTimer;

namespace camera {

// Waits for a camera. The streaming threads wake it whenever something a
// wait may be waiting for has happened (a frame, a failure). A request is
// answered later, on the user-interface thread, once what it waits for has
// happened or its bound has passed; nothing runs inside anyone's step. The
// blocking form is for the control's synchronous calls, which the window
// never makes: it waits on a condition, with no event loop.
class CameraWait final : public QObject {
    Q_OBJECT
public:
    using Then = std::function<void(bool happened)>;
    CameraWait();
    ~CameraWait() override;

    // Any thread.
    void wake();
    // `then(true)` once `done` holds, `then(false)` when the bound passed
    // first; never inside this call.
    void when(std::function<bool()> done, std::chrono::milliseconds bound, Then then);
    // Blocks the calling thread until `done` holds or the bound has passed.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds bound);
    // Requests still unanswered.
    bool waiting() const { return !m_requests.empty(); }

private:
    struct Request;
    void check();
    void answer(std::list<Request>::iterator request, bool happened);

    std::mutex m_mutex;
    std::condition_variable m_woken;
    quint64 m_wakes = 0;
    bool m_checkPending = false;
    std::atomic<int> m_requestCount { 0 };
    // The user-interface thread's only.
    std::list<Request> m_requests;
};

} // namespace camera
