#include "camera/camera_wait.h"

#include <QTimer>

namespace camera {

struct CameraWait::Request {
    std::function<bool()> done;
    Then then;
    std::unique_ptr<QTimer> deadline;
};

CameraWait::CameraWait() = default;
CameraWait::~CameraWait() = default;

void CameraWait::wake()
{
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        ++m_wakes;
        // One queued check at a time, and only for a request: frames arrive
        // faster than a wait needs them, and mostly when nobody waits.
        post = m_requestCount.load() > 0 && !std::exchange(m_checkPending, true);
    }
    m_woken.notify_all();
    if (post)
        QMetaObject::invokeMethod(this, &CameraWait::check, Qt::QueuedConnection);
}

void CameraWait::check()
{
    {
        std::lock_guard lock(m_mutex);
        m_checkPending = false;
    }
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        const auto next = std::next(it);
        if (it->done())
            answer(it, true);
        it = next;
    }
}

void CameraWait::answer(std::list<Request>::iterator request, bool happened)
{
    const Then then = std::move(request->then);
    // Stopped, not deleted: this may run inside the timer's own signal.
    request->deadline->stop();
    request->deadline.release()->deleteLater();
    m_requests.erase(request);
    --m_requestCount;
    then(happened);
}

void CameraWait::when(std::function<bool()> done, std::chrono::milliseconds bound, Then then)
{
    m_requests.push_back(Request { std::move(done), std::move(then), std::make_unique<QTimer>() });
    ++m_requestCount;
    const auto request = std::prev(m_requests.end());
    QTimer& deadline = *request->deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, this, [this, request] { answer(request, request->done()); });
    deadline.start(bound);
    // What has happened already is told from the event loop too.
    QMetaObject::invokeMethod(this, &CameraWait::check, Qt::QueuedConnection);
}

bool CameraWait::until(const std::function<bool()>& done, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(m_mutex);
    for (;;) {
        const quint64 seen = m_wakes;
        lock.unlock();
        if (done())
            return true;
        lock.lock();
        if (!m_woken.wait_until(lock, end, [&] { return m_wakes != seen; }))
            break;
    }
    lock.unlock();
    return done();
}

} // namespace camera
