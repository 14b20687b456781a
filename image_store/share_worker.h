#pragma once

#include "image_store/cancel_token.h"

#include <QObject>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace image_store {

// The share took longer than the bound, or is still busy with work that did.
class ShareNotAnswering : public std::runtime_error {
public:
    ShareNotAnswering();
};

// Runs all file work on the share on one thread, in the order it was asked,
// so a later take never lands before an earlier one and a server that hangs
// stops that thread, not the window. Nobody waits for it: each request's
// result comes back as a call on this object's thread, or its failure once
// the bound has passed. Past the bound, until the stuck work returns, every
// new request fails at once instead of queueing behind it. Work queued
// behind stuck work is dropped unrun, and the stuck work's token is
// cancelled, so it puts nothing in place when the server answers. Work must
// hold copies of what it uses: it may outlive its caller.
class ShareWorker final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds DefaultBound { 10000 };
    explicit ShareWorker(std::chrono::milliseconds bound = DefaultBound);
    ~ShareWorker() override;

    using Work = std::function<void(const CancelToken&)>;
    using Done = std::function<void(std::exception_ptr)>;
    // Work queued, whose end may be asked for later.
    class Ticket {
    private:
        friend class ShareWorker;
        struct Job;
        std::shared_ptr<Job> m_job;
    };

    // Queues work; throws ShareNotAnswering while stuck work has not returned.
    Ticket queue(Work work);
    // `done` runs on this object's thread once all that work has ended, with
    // the first failure among it or null; or with ShareNotAnswering once the
    // bound has passed since this call, and the work is then given up.
    void whenDone(std::vector<Ticket> tickets, Done done);
    // Queues work and tells its end as whenDone does; never throws.
    void submit(std::function<void()> work, Done done);
    // An answer known at once still comes from the event loop, as every answer does.
    void tellLater(Done done, std::exception_ptr error);

    // Work that ran past its bound has not returned yet.
    bool stuck() const { return m_stuck; }

private:
    struct State;
    struct Watch;
    using Job = Ticket::Job;
    std::shared_ptr<Job> enqueue(Work work);
    void giveUp();
    void finished(const std::shared_ptr<Job>& job, bool idle);

    std::chrono::milliseconds m_bound;
    std::shared_ptr<State> m_state;
    bool m_stuck = false;
};

} // namespace image_store
