#include "camera/camera_wait.h"

#include <QEventLoop>
#include <QTimer>

namespace camera {

void CameraWait::wake()
{
    // One queued call at a time: frames arrive faster than a wait needs them.
    if (m_waiting.load() > 0 && !m_wakePending.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_wakePending = false;
                emit woken();
            },
            Qt::QueuedConnection);
}

bool CameraWait::until(const std::function<bool()>& done, std::chrono::milliseconds bound)
{
    if (done())
        return true;
    QEventLoop loop;
    const QMetaObject::Connection check = connect(this, &CameraWait::woken, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(bound);
    ++m_waiting;
    if (m_started)
        m_started();
    // A wake between the first check and the count above would be lost.
    if (!done())
        loop.exec(m_started ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    if (m_ended)
        m_ended();
    --m_waiting;
    disconnect(check);
    return done();
}

void CameraWait::observe(std::function<void()> started, std::function<void()> ended)
{
    m_started = std::move(started);
    m_ended = std::move(ended);
}

} // namespace camera
