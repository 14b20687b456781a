#pragma once

#include <QObject>

#include <functional>
#include <vector>

// The window's own work that does not come from the operator: timer ticks,
// calls deferred until the current handling is over, news of conversions
// and pictures read. While the window waits on the share with its event
// loop running, none of it runs inside the waiting step: it is held, and
// once the wait is over it runs in order from the event loop.
class HeldCalls final : public QObject {
    Q_OBJECT
public:
    // Now, or after the wait when one is on.
    void run(std::function<void()> call);
    // After the current handling, and never inside a wait.
    void later(std::function<void()> call);
    // As later, and once no box or dialog is open: what starts arming must
    // not run inside a question about another sample.
    void whenNoBoxIsOpen(std::function<void()> call);

    void hold();
    void release();
    bool holding() const { return m_holds > 0; }

private:
    int m_holds = 0;
    std::vector<std::function<void()>> m_held;
};
