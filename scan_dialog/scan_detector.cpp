#include "scan_dialog/scan_detector.h"

#include <QKeyEvent>

namespace {

bool isEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool isModifier(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta
        || key == Qt::Key_AltGr || key == Qt::Key_CapsLock;
}

bool isPressKey(int key)
{
    return isEnter(key) || key == Qt::Key_Space || key == Qt::Key_Tab;
}

} // namespace

bool ScanDetector::isRepeat(const QKeyEvent& key) const
{
    if (key.isAutoRepeat())
        return true;
    // X sends one repeat of a held key as a release and a press with one
    // time stamp, unflagged.
    return key.timestamp() != 0 && key.key() == m_releasedKey && qint64(key.timestamp()) == m_releasedAt;
}

ScanDetector::Kind ScanDetector::see(const QKeyEvent& key)
{
    // The same event again, handed on from a child to its window.
    if (&key == m_lastEvent && key.type() == QEvent::KeyPress && key.timestamp() != 0
        && qint64(key.timestamp()) == m_lastKeyAt && key.key() == m_lastKey)
        return m_lastKind;
    if (key.type() == QEvent::KeyRelease) {
        // A press after a release is a new key, wherever its event lives.
        m_lastEvent = nullptr;
        m_releasedKey = key.key();
        m_releasedAt = key.timestamp() != 0 ? qint64(key.timestamp()) : -1;
        // A flagged repeat's release must not press a button (Space presses on release).
        return key.isAutoRepeat() ? Kind::Ignored : Kind::Other;
    }
    // Shift and the like come with the keys they change; they are no key of a scan.
    if (isModifier(key.key()))
        return Kind::Other;
    m_lastEvent = &key;
    m_lastKey = key.key();
    const qint64 at = key.timestamp() != 0 ? qint64(key.timestamp()) : -1;
    const bool scannerPace = at >= 0 && m_lastKeyAt >= 0 && at - m_lastKeyAt <= ScannerGapMs;
    const bool repeat = isRepeat(key);
    m_continues = at < 0 || m_lastKeyAt < 0 || at - m_lastKeyAt <= PauseMs;
    m_lastKeyAt = at;
    // A held Enter, Space or Tab is one answer. Other keys repeat as they
    // always do: Qt flags a scanner's doubled digit, typed within one
    // millisecond, as a repeat too.
    if (repeat && isPressKey(key.key()))
        return m_lastKind = Kind::Ignored;
    if (isEnter(key.key()) || (key.key() == Qt::Key_Tab && m_burstDigits > 0 && scannerPace))
        return m_lastKind = seeEnd(key.key() == Qt::Key_Tab, at, scannerPace);
    const QString text = key.text();
    const bool digit = text.size() == 1 && text.at(0) >= QLatin1Char('0') && text.at(0) <= QLatin1Char('9');
    if (m_prefixLeft > 0 && scannerPace && !text.isEmpty()) {
        --m_prefixLeft;
        return m_lastKind = Kind::Ignored;
    }
    m_prefixLeft = 0;
    if (startsPrefix(text) && m_burstDigits == 0) {
        m_prefixLeft = PrefixLength - 1;
        return m_lastKind = Kind::Ignored;
    }
    if (key.key() == Qt::Key_Tab && m_scanEndedAt >= 0 && at - m_scanEndedAt <= SuffixMs)
        return m_lastKind = Kind::Ignored;
    m_scanEndedAt = -1;
    if (!digit) {
        m_burstDigits = 0;
        return m_lastKind = Kind::Other;
    }
    m_burstDigits = scannerPace ? m_burstDigits + 1 : 1;
    return m_lastKind = Kind::Digit;
}

ScanDetector::Kind ScanDetector::seeEnd(bool tab, qint64 at, bool scannerPace)
{
    // The rest of a suffix: a CR+LF's second Enter, an Enter after a Tab.
    if (m_scanEndedAt >= 0 && at >= 0 && at - m_scanEndedAt <= SuffixMs)
        return Kind::Ignored;
    // One digit and an Enter at a scanner's pace is a scan too, if a short one.
    const bool scan = m_burstDigits > 0 && (scannerPace || (tab && m_burstDigits > 1));
    m_burstDigits = 0;
    m_prefixLeft = 0;
    m_scanEndedAt = scan ? at : -1;
    return Kind::End;
}
