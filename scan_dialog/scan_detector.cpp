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
    // X sends one repeat of a held key as a release and a press with one
    // time stamp, not always flagged.
    if (key.timestamp() != 0 && key.key() == m_releasedKey && qint64(key.timestamp()) == m_releasedAt)
        return true;
    // Where repeats come paired, Qt's flag is no more than that pair, and
    // it outlives a pair whose release went to a box closed meanwhile (a
    // CR+LF's second Enter): the operator's next Enter would come flagged.
    return m_repeats == Repeats::Flagged && key.isAutoRepeat();
}

ScanDetector::Kind ScanDetector::see(const QKeyEvent& key)
{
    // The same key again, handed on from a window to its child.
    if (m_held && key.type() == QEvent::KeyPress && key.timestamp() != 0
        && qint64(key.timestamp()) == m_lastKeyAt && key.key() == m_lastKey && !key.isAutoRepeat())
        return m_lastKind;
    if (key.type() == QEvent::KeyRelease) {
        m_held = false;
        m_releasedKey = key.key();
        m_releasedAt = key.timestamp() != 0 ? qint64(key.timestamp()) : -1;
        // A flagged repeat's release must not press a button (Space presses on release).
        return key.isAutoRepeat() ? Kind::Ignored : Kind::Other;
    }
    // Shift and the like come with the keys they change; they are no key of a scan.
    if (isModifier(key.key()))
        return Kind::Other;
    m_held = true;
    m_lastKey = key.key();
    const qint64 at = key.timestamp() != 0 ? qint64(key.timestamp()) : -1;
    const bool scannerPace = at >= 0 && m_lastKeyAt >= 0 && at - m_lastKeyAt <= ScannerGapMs;
    const bool repeat = isRepeat(key);
    m_continues = at < 0 || m_lastKeyAt < 0 || at - m_lastKeyAt <= PauseMs;
    m_stuttered = at >= 0 && m_lastKeyAt >= 0 && at - m_lastKeyAt <= StutterMs;
    m_lastKeyAt = at;
    // A held Enter, Space or Tab is one answer. Other keys repeat as they
    // always do: Qt flags a scanner's doubled digit, typed within one
    // millisecond, as a repeat too.
    if (repeat && isPressKey(key.key()))
        return m_lastKind = Kind::Ignored;
    if (isEnter(key.key()) || (key.key() == Qt::Key_Tab && m_burstDigits > 0 && scannerPace))
        return m_lastKind = seeEnd(at, scannerPace);
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

ScanDetector::Kind ScanDetector::seeEnd(qint64 at, bool scannerPace)
{
    // The rest of a suffix: a CR+LF's second Enter, an Enter after a Tab.
    if (m_scanEndedAt >= 0 && at >= 0 && at - m_scanEndedAt <= SuffixMs)
        return Kind::Ignored;
    // Digits and an Enter at a scanner's pace end a scanner's keys, whose
    // suffix may go on; they end a scan only if long enough that a
    // typist's rollover into Enter is none.
    m_endedScan = m_burstDigits >= MinScanDigits && scannerPace;
    m_scanEndedAt = m_burstDigits > 0 && scannerPace ? at : -1;
    m_burstDigits = 0;
    m_prefixLeft = 0;
    return Kind::End;
}
