#pragma once

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
// work is dropped unrun, and the stuck work itself can ask abandoned()
// before it puts anything in place. Work must hold copies of what it uses:
// it may outlive its caller.
class ShareWorker final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds DefaultBound { 10000 };
    explicit ShareWorker(std::chrono::milliseconds bound = DefaultBound);
    ~ShareWorker() override;

    // Runs work and waits for its result; its exception is rethrown here.
    template <typename Work> auto call(Work work) -> std::invoke_result_t<Work>
    {
        using Result = std::invoke_result_t<Work>;
        if constexpr (std::is_void_v<Result>) {
            waitFor({ enqueue(std::move(work)) });
        } else {
            auto result = std::make_shared<std::optional<Result>>();
            waitFor({ enqueue([result, work = std::move(work)]() mutable { result->emplace(work()); }) });
            return std::move(**result);
        }
    }

    // Queues work without waiting; its failure is thrown by settle().
    void post(std::function<void()> work);
    // Waits for everything posted; throws the first failure among it.
    void settle();
    // Queues work; `done` runs on this object's thread when it has ended,
    // with its failure or null.
    void submit(std::function<void()> work, std::function<void(std::exception_ptr)> done);

    // Work that ran past its bound has not returned yet.
    bool stuck() const { return m_stuck; }
    // A caller is waiting for work right now.
    bool waiting() const { return m_waiting > 0; }

    // Asked by the work running on the worker: its caller has given up, so
    // it must not put its result in place.
    static bool abandoned();

private:
    struct Job;
    struct State;
    std::shared_ptr<Job> enqueue(std::function<void()> work);
    void waitFor(const std::vector<std::shared_ptr<Job>>& jobs);
    void giveUp();
    void finished(const std::shared_ptr<Job>& job, bool idle);

    std::chrono::milliseconds m_bound;
    std::shared_ptr<State> m_state;
    std::vector<std::shared_ptr<Job>> m_posted;
    bool m_stuck = false;
    int m_waiting = 0;
};

} // namespace image_store
