#include "share_worker.h"

#include "share_log.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace image_store {

ShareNotAnswering::ShareNotAnswering()
    : std::runtime_error("The file server does not answer. Check that it is running and reachable, "
                         "then try again.")
{
}

struct ShareWorker::Job {
    std::function<void()> work;
    // Written by the worker before it reports the end; read after.
    std::exception_ptr error;
    std::atomic<bool> abandoned { false };
    // This object's thread only.
    bool done = false;
    std::function<void()> onDone;
};

struct ShareWorker::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable exited;
    std::deque<std::shared_ptr<Job>> queue;
    std::shared_ptr<Job> current;
    ShareWorker* owner = nullptr;
    bool stopping = false;
    bool hasExited = false;
    std::thread thread;
};

namespace {
thread_local const std::atomic<bool>* t_abandoned = nullptr;
}

ShareWorker::ShareWorker(std::chrono::milliseconds bound)
    : m_bound(bound)
    , m_state(std::make_shared<State>())
{
    m_state->owner = this;
    // The thread holds the state: it may outlive this object when the
    // server hangs at the program's end.
    m_state->thread = std::thread([state = m_state] {
        std::unique_lock lock(state->mutex);
        for (;;) {
            state->wake.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
            if (state->stopping)
                break;
            std::shared_ptr<Job> job = std::move(state->queue.front());
            state->queue.pop_front();
            state->current = job;
            lock.unlock();
            t_abandoned = &job->abandoned;
            try {
                job->work();
            } catch (...) {
                job->error = std::current_exception();
            }
            t_abandoned = nullptr;
            // What the work holds (a camera frame) is let go here, not on the window's thread.
            job->work = nullptr;
            lock.lock();
            state->current.reset();
            const bool idle = state->queue.empty();
            if (ShareWorker* owner = state->owner)
                QMetaObject::invokeMethod(
                    owner, [owner, job, idle] { owner->finished(job, idle); }, Qt::QueuedConnection);
        }
        state->hasExited = true;
        state->exited.notify_all();
    });
}

ShareWorker::~ShareWorker()
{
    std::unique_lock lock(m_state->mutex);
    m_state->owner = nullptr;
    m_state->stopping = true;
    m_state->queue.clear();
    if (m_state->current)
        m_state->current->abandoned = true;
    m_state->wake.notify_all();
    // A thread stuck on a hung server must not keep the program from ending.
    if (m_state->exited.wait_for(lock, std::chrono::seconds(2), [this] { return m_state->hasExited; })) {
        lock.unlock();
        m_state->thread.join();
    } else {
        qCWarning(lcShare, "the file server still does not answer; leaving its work behind");
        m_state->thread.detach();
    }
}

bool ShareWorker::abandoned()
{
    return t_abandoned && t_abandoned->load();
}

std::shared_ptr<ShareWorker::Job> ShareWorker::enqueue(std::function<void()> work)
{
    if (m_stuck)
        throw ShareNotAnswering();
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    {
        std::lock_guard lock(m_state->mutex);
        m_state->queue.push_back(job);
    }
    m_state->wake.notify_one();
    return job;
}

void ShareWorker::post(std::function<void()> work)
{
    m_posted.push_back(enqueue(std::move(work)));
}

void ShareWorker::settle()
{
    const std::vector<std::shared_ptr<Job>> posted = std::move(m_posted);
    m_posted.clear();
    waitFor(posted);
}

void ShareWorker::submit(std::function<void()> work, std::function<void(std::exception_ptr)> done)
{
    std::shared_ptr<Job> job;
    try {
        job = enqueue(std::move(work));
    } catch (const ShareNotAnswering&) {
        QMetaObject::invokeMethod(
            this, [done, error = std::current_exception()] { done(error); }, Qt::QueuedConnection);
        return;
    }
    job->onDone = [done, job = job.get()] { done(job->error); };
}

void ShareWorker::waitFor(const std::vector<std::shared_ptr<Job>>& jobs)
{
    int remaining = 0;
    QEventLoop loop;
    for (const auto& job : jobs) {
        if (job->done)
            continue;
        ++remaining;
        job->onDone = [&remaining, &loop] {
            if (--remaining == 0)
                loop.quit();
        };
    }
    if (remaining > 0) {
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(m_bound);
        // Frames and timers go on; what the operator types or clicks waits
        // until this step is over.
        ++m_waiting;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        --m_waiting;
    }
    for (const auto& job : jobs)
        job->onDone = nullptr;
    if (remaining > 0) {
        giveUp();
        throw ShareNotAnswering();
    }
    for (const auto& job : jobs)
        if (job->error)
            std::rethrow_exception(job->error);
}

void ShareWorker::giveUp()
{
    qCWarning(lcShare, "the file server did not answer within %lld ms; the work queued behind is dropped",
        static_cast<long long>(m_bound.count()));
    m_stuck = true;
    std::deque<std::shared_ptr<Job>> dropped;
    {
        std::lock_guard lock(m_state->mutex);
        dropped.swap(m_state->queue);
        if (m_state->current)
            m_state->current->abandoned = true;
        else
            m_stuck = false; // it returned just now
    }
    for (const auto& job : dropped) {
        job->error = std::make_exception_ptr(ShareNotAnswering());
        job->done = true;
        if (job->onDone)
            QMetaObject::invokeMethod(
                this, [job] { job->onDone(); }, Qt::QueuedConnection);
    }
}

void ShareWorker::finished(const std::shared_ptr<Job>& job, bool idle)
{
    job->done = true;
    if (idle && m_stuck) {
        qCWarning(lcShare, "the file server answers again");
        m_stuck = false;
    }
    if (job->onDone) {
        const std::function<void()> onDone = job->onDone;
        onDone();
    }
}

} // namespace image_store
