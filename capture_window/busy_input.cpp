#include "capture_window/busy_input.h"

#include "capture_window/held_calls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <utility>

BusyInput::BusyInput(QWidget& window, HeldCalls& held)
    : m_window(window)
    , m_held(held)
{
}

void BusyInput::begin()
{
    if (m_depth++ == 0)
        qApp->installEventFilter(this);
}

void BusyInput::end()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    qApp->removeEventFilter(this);
    // One at a time: a key that answers a question closes it before the
    // next key looks for where to go.
    for (const Key& key : std::exchange(m_keys, {}))
        m_held.later([this, key] { replay(key); });
}

bool BusyInput::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        m_keys.push_back({ key->type(), key->key(), key->modifiers(), key->text(), key->isAutoRepeat(),
            key->timestamp() });
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void BusyInput::replay(const Key& key)
{
    QWidget* target = QApplication::activeModalWidget();
    if (target && target->focusWidget())
        target = target->focusWidget();
    if (!target)
        target = QApplication::focusWidget() ? QApplication::focusWidget() : &m_window;
    QKeyEvent event(key.type, key.key, key.modifiers, key.text, key.autoRepeat);
    event.setTimestamp(key.timestamp);
    QApplication::sendEvent(target, &event);
}
