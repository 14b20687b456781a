#include "capture_window/busy_input.h"

#include "capture_window/held_calls.h"
#include "scan_dialog/scan_detector.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <algorithm>

#include <utility>

namespace {
constexpr int RecheckWhileStepRunsMs = 20;
}

BusyInput::BusyInput(QWidget& window, HeldCalls& held, std::function<bool()> stepRunning)
    : m_window(window)
    , m_held(held)
    , m_stepRunning(std::move(stepRunning))
{
}

void BusyInput::begin()
{
    if (m_depth++ == 0 && !m_filtering) {
        qApp->installEventFilter(this);
        m_filtering = true;
    }
}

void BusyInput::end()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    keepNumbers();
    if (m_pending.empty())
        stopFiltering();
    else
        replayLater(0);
}

void BusyInput::stopFiltering()
{
    if (m_filtering) {
        qApp->removeEventFilter(this);
        m_filtering = false;
    }
}

void BusyInput::keepNumbers()
{
    for (const Key& key : numbersOnly(std::exchange(m_keys, {})))
        m_pending.push_back(key);
}

std::vector<BusyInput::Key> BusyInput::numbersOnly(const std::vector<Key>& keys)
{
    // A number's digits, its prefix and the Enter or Tab that ends it are
    // kept, and the window's Alt+letter commands; any other key was pressed
    // before the question it would answer was on screen, and must not
    // answer it.
    std::vector<Key> kept;
    std::vector<int> down;
    int digits = 0;
    int burst = 0;
    int prefixLeft = 0;
    quint64 lastDigitAt = 0;
    for (const Key& key : keys) {
        // A scanner with no suffix ends a number with a pause; replayed
        // without it, the next number would run on from it.
        if (key.type == QEvent::KeyPress && burst > 1
            && key.timestamp > lastDigitAt + ScanDetector::PauseMs) {
            for (const QEvent::Type type : { QEvent::KeyPress, QEvent::KeyRelease })
                kept.push_back(
                    { type, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), false, lastDigitAt });
            digits = 0;
        }
        if (key.type == QEvent::KeyRelease) {
            if (const auto at = std::find(down.begin(), down.end(), key.key); at != down.end()) {
                down.erase(at);
                kept.push_back(key);
            }
            continue;
        }
        const bool plain = !(key.modifiers & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier));
        // A button's Alt+letter is a command for the window, not an answer.
        const bool command = key.modifiers == Qt::AltModifier && key.key >= Qt::Key_A && key.key <= Qt::Key_Z;
        const bool digit = plain && key.text.size() == 1 && key.text.at(0).isDigit();
        const bool end
            = plain && (key.key == Qt::Key_Return || key.key == Qt::Key_Enter || key.key == Qt::Key_Tab);
        bool keep = false;
        if (prefixLeft > 0 && plain && !key.text.isEmpty()) {
            --prefixLeft;
            keep = true;
        } else if (plain && ScanDetector::startsPrefix(key.text) && digits == 0) {
            prefixLeft = ScanDetector::PrefixLength - 1;
            keep = true;
        } else if (digit) {
            const bool scannerPace = digits > 0 && key.timestamp != 0
                && key.timestamp <= lastDigitAt + ScanDetector::ScannerGapMs;
            burst = scannerPace ? burst + 1 : 1;
            ++digits;
            lastDigitAt = key.timestamp;
            keep = true;
        } else if (end && digits > 0 && !key.autoRepeat) {
            digits = 0;
            keep = true;
        } else if (command && !key.autoRepeat) {
            digits = 0;
            keep = true;
        } else {
            digits = 0;
        }
        if (!digit)
            burst = 0;
        if (keep) {
            kept.push_back(key);
            down.push_back(key.key);
        }
    }
    return kept;
}

void BusyInput::replayLater(int delayMs)
{
    if (m_replayPending || (m_pending.empty() && !m_filtering))
        return;
    m_replayPending = true;
    QTimer::singleShot(delayMs, this, [this] {
        m_held.later([this] {
            m_replayPending = false;
            replayNext();
        });
    });
}

void BusyInput::replayNext()
{
    if (!m_pending.empty()) {
        // Between one question and the next the step is still running: its
        // keys wait for the question it goes on to open, or for its end.
        if (!QApplication::activeModalWidget() && m_stepRunning && m_stepRunning()) {
            replayLater(RecheckWhileStepRunsMs);
            return;
        }
        const Key key = m_pending.front();
        m_pending.pop_front();
        // One at a time, the next once this one is handled: if it opens a
        // question, the next goes to that question.
        replayLater(0);
        ++m_replaying;
        replay(key);
        --m_replaying;
        return;
    }
    if (m_depth > 0)
        return; // a wait began; its end goes on from here
    // Keys typed while the kept ones were replayed come after them.
    keepNumbers();
    if (m_pending.empty())
        stopFiltering();
    else
        replayLater(0);
}

bool BusyInput::eventFilter(QObject* watched, QEvent* event)
{
    if (m_replaying > 0)
        return QObject::eventFilter(watched, event);
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
    // Meant for the window's buttons: never an answer to a question opened since.
    if ((key.modifiers & Qt::AltModifier) && QApplication::activeModalWidget())
        return;
    QWidget* target = QApplication::activeModalWidget();
    if (target && target->focusWidget())
        target = target->focusWidget();
    if (!target)
        target = QApplication::focusWidget() ? QApplication::focusWidget() : &m_window;
    QKeyEvent event(key.type, key.key, key.modifiers, key.text, key.autoRepeat);
    event.setTimestamp(key.timestamp);
    QApplication::sendEvent(target, &event);
}
