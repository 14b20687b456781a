#pragma once

#include "image_store/cancel_token.h"

#include <QObject>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace image_store {

// The share took longer than the bound, or is still busy with work that did.
class ShareNotAnswering : public std::runtime_error {
public:
    ShareNotAnswering();
};

// Runs all file work on the share on one thread, in the order it was asked,
// so a later take never lands before an earlier one and a server that hangs
// stops that thread, not the window. The caller waits with its event loop
// running (user input held back until the wait ends), up to a bound; past
// it the step fails, and until the stuck work returns every new request
// fails at once instead of queueing behind it. Work queued behind stuck
// work is dropped unrun, and the stuck work's token is cancelled, so it puts
// nothing in place when the server answers. Work must hold copies of what
// it uses: it may outlive its caller.
class ShareWorker final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds DefaultBound { 10000 };
    explicit ShareWorker(std::chrono::milliseconds bound = DefaultBound);
    ~ShareWorker() override;

    using Work = std::function<void(const CancelToken&)>;
    // Work queued and not yet waited for.
    class Ticket {
    private:
        friend class ShareWorker;
        struct Job;
        std::shared_ptr<Job> m_job;
    };

    // Runs work and waits for its result; its exception is rethrown here.
    template <typename Call> auto call(Call work) -> std::invoke_result_t<Call>
    {
        using Result = std::invoke_result_t<Call>;
        if constexpr (std::is_void_v<Result>) {
            wait({ queue([work = std::move(work)](const CancelToken&) mutable { work(); }) });
        } else {
            auto result = std::make_shared<std::optional<Result>>();
            wait({ queue(
                [result, work = std::move(work)](const CancelToken&) mutable { result->emplace(work()); }) });
            return std::move(**result);
        }
    }

    // Queues work without waiting for it.
    Ticket queue(Work work);
    // Waits for queued work up to the bound; throws the first failure among it.
    void wait(const std::vector<Ticket>& tickets);
    // Queues work; `done` runs on this object's thread when it has ended,
    // with its failure or null.
    void submit(std::function<void()> work, std::function<void(std::exception_ptr)> done);

    // Work that ran past its bound has not returned yet.
    bool stuck() const { return m_stuck; }
    // User input waits until a wait is over (the default), or is delivered
    // during it to an owner that holds it itself.
    void deliverUserInputDuringWaits(bool deliver) { m_deliverInput = deliver; }

signals:
    // Around each wait: whatever the event loop runs in between runs inside
    // the caller's step.
    void waitStarted();
    void waitEnded();

private:
    struct State;
    using Job = Ticket::Job;
    std::shared_ptr<Job> enqueue(Work work);
    bool runLoopUntilDone(const std::vector<Ticket>& tickets);
    void giveUp();
    void finished(const std::shared_ptr<Job>& job, bool idle);

    std::chrono::milliseconds m_bound;
    std::shared_ptr<State> m_state;
    bool m_stuck = false;
    bool m_deliverInput = false;
};

} // namespace image_store
