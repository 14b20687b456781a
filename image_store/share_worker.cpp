#include "image_store/share_worker.h"

#include "image_store/share_log.h"

#include <QTimer>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace image_store {

ShareNotAnswering::ShareNotAnswering()
    : std::runtime_error("The file server does not answer. Check that it is running and reachable, "
                         "then try again.")
{
}

struct ShareWorker::Ticket::Job {
    Work work;
    CancelToken token;
    // Written by the worker before it reports the end; read after.
    std::exception_ptr error;
    // This object's thread only.
    bool done = false;
    std::vector<std::function<void()>> onDone;
};

// One whenDone: its answer is given once, by the last job's end or by the bound.
struct ShareWorker::Watch {
    int remaining = 0;
    std::vector<std::shared_ptr<Job>> jobs;
    Done done;
    std::unique_ptr<QTimer> deadline;
    bool answered = false;

    void answer(std::exception_ptr error)
    {
        if (std::exchange(answered, true))
            return;
        if (deadline) {
            // This may run inside the timer's own signal.
            deadline->stop();
            deadline.release()->deleteLater();
        }
        const Done call = std::move(done);
        call(error);
    }
    void jobEnded()
    {
        if (--remaining > 0 || answered)
            return;
        for (const auto& job : jobs)
            if (job->error) {
                answer(job->error);
                return;
            }
        answer(nullptr);
    }
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

    void run();
};

void ShareWorker::State::run()
{
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || !queue.empty(); });
        if (stopping)
            break;
        std::shared_ptr<Job> job = std::move(queue.front());
        queue.pop_front();
        current = job;
        lock.unlock();
        try {
            job->work(job->token);
        } catch (...) {
            job->error = std::current_exception();
        }
        // What the work holds (a camera frame) is let go here, not on the window's thread.
        job->work = nullptr;
        lock.lock();
        current.reset();
        const bool idle = queue.empty();
        if (ShareWorker* worker = owner)
            QMetaObject::invokeMethod(
                worker, [worker, job, idle] { worker->finished(job, idle); }, Qt::QueuedConnection);
    }
    hasExited = true;
    exited.notify_all();
}

ShareWorker::ShareWorker(std::chrono::milliseconds bound)
    : m_bound(bound)
    , m_state(std::make_shared<State>())
{
    m_state->owner = this;
    // The thread holds the state: it may outlive this object when the
    // server hangs at the program's end.
    m_state->thread = std::thread([state = m_state] { state->run(); });
}

ShareWorker::~ShareWorker()
{
    std::unique_lock lock(m_state->mutex);
    m_state->owner = nullptr;
    m_state->stopping = true;
    m_state->queue.clear();
    if (m_state->current)
        m_state->current->token.cancel();
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

std::shared_ptr<ShareWorker::Job> ShareWorker::enqueue(Work work)
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

ShareWorker::Ticket ShareWorker::queue(Work work)
{
    Ticket ticket;
    ticket.m_job = enqueue(std::move(work));
    return ticket;
}

void ShareWorker::submit(std::function<void()> work, Done done)
{
    Ticket ticket;
    try {
        ticket = queue([work = std::move(work)](const CancelToken&) { work(); });
    } catch (const ShareNotAnswering&) {
        tellLater(std::move(done), std::current_exception());
        return;
    }
    whenDone({ ticket }, std::move(done));
}

void ShareWorker::tellLater(Done done, std::exception_ptr error)
{
    QMetaObject::invokeMethod(
        this, [done = std::move(done), error] { done(error); }, Qt::QueuedConnection);
}

void ShareWorker::whenDone(std::vector<Ticket> tickets, Done done)
{
    auto watch = std::make_shared<Watch>();
    watch->done = std::move(done);
    for (const Ticket& ticket : tickets) {
        watch->jobs.push_back(ticket.m_job);
        if (ticket.m_job->done)
            continue;
        ++watch->remaining;
        ticket.m_job->onDone.push_back([watch] { watch->jobEnded(); });
    }
    // Answered from the event loop, never inside the caller's own call.
    ++watch->remaining;
    QMetaObject::invokeMethod(
        this, [watch] { watch->jobEnded(); }, Qt::QueuedConnection);
    watch->deadline = std::make_unique<QTimer>();
    watch->deadline->setSingleShot(true);
    watch->deadline->setTimerType(Qt::PreciseTimer);
    connect(watch->deadline.get(), &QTimer::timeout, this, [this, weak = std::weak_ptr<Watch>(watch)] {
        const std::shared_ptr<Watch> expired = weak.lock();
        if (!expired || expired->answered)
            return;
        giveUp();
        expired->answer(std::make_exception_ptr(ShareNotAnswering()));
    });
    watch->deadline->start(m_bound);
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
            m_state->current->token.cancel();
        else
            m_stuck = false; // it returned just now
    }
    for (const auto& job : dropped) {
        job->error = std::make_exception_ptr(ShareNotAnswering());
        QMetaObject::invokeMethod(
            this, [this, job] { finished(job, false); }, Qt::QueuedConnection);
    }
}

void ShareWorker::finished(const std::shared_ptr<Job>& job, bool idle)
{
    if (std::exchange(job->done, true))
        return;
    if (idle && m_stuck) {
        qCWarning(lcShare, "the file server answers again");
        m_stuck = false;
    }
    for (const auto& onDone : std::exchange(job->onDone, {}))
        onDone();
}

} // namespace image_store
