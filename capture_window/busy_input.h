#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <vector>

class HeldCalls;
class QWidget;

// What the operator types or clicks while the window waits on the share.
// Clicks are dropped: a button pressed then would act inside the step that
// waits. Keys are kept and, once the wait is over, handed one by one, in
// order, to whatever takes keys then: the question the step went on to
// open, or the window. A scan made meanwhile is never lost: a whole sample
// number answers that question No and is armed instead, as any scan into a
// question does. Only numbers are kept: an Enter, Space or letter pressed
// before a question was on screen never answers it.
class BusyInput final : public QObject {
    Q_OBJECT
public:
    // `window` takes the keys when no question is open; `held` runs the
    // replays after the step, never inside another wait; while
    // `stepRunning` says so, keys wait for a question or the step's end.
    BusyInput(QWidget& window, HeldCalls& held, std::function<bool()> stepRunning);

    void begin();
    void end();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Key {
        QEvent::Type type;
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
        bool autoRepeat;
        quint64 timestamp;
    };
    static std::vector<Key> numbersOnly(const std::vector<Key>& keys);
    void keepNumbers();
    void stopFiltering();
    void replayLater(int delayMs);
    void replayNext();
    void replay(const Key& key);

    QWidget& m_window;
    HeldCalls& m_held;
    std::function<bool()> m_stepRunning;
    int m_depth = 0;
    std::vector<Key> m_keys;
    std::deque<Key> m_pending;
    bool m_replayPending = false;
    bool m_filtering = false;
    int m_replaying = 0; // replays on the stack: one may open a question
};
