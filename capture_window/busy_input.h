#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

#include <vector>

class HeldCalls;
class QWidget;

// What the operator types or clicks while the window waits on the share.
// Clicks are dropped: a button pressed then would act inside the step that
// waits. Keys are kept and, once the wait is over, handed one by one, in
// order, to whatever takes keys then: the question the step went on to
// open, or the window. A scan made meanwhile is never lost: a whole sample
// number answers that question No and is armed instead, as any scan into a
// question does.
class BusyInput final : public QObject {
    Q_OBJECT
public:
    // `window` takes the keys when no question is open; `held` runs the
    // replays after the step, never inside another wait.
    BusyInput(QWidget& window, HeldCalls& held);

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
    void replay(const Key& key);

    QWidget& m_window;
    HeldCalls& m_held;
    int m_depth = 0;
    std::vector<Key> m_keys;
};
