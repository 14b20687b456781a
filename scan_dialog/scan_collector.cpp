#include "scan_dialog/scan_collector.h"

#include "scan_dialog/scan_log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>

#include <utility>

ScanCollector::ScanCollector(QObject* parent)
    : QObject(parent)
    , m_detector(QGuiApplication::platformName() == QLatin1String("xcb") ? ScanDetector::Repeats::Paired
                                                                         : ScanDetector::Repeats::Flagged)
{
    // Before any window's own handling, each key the program gets, once at
    // its window and again at each control it is handed on to.
    QCoreApplication::instance()->installEventFilter(this);
    m_pause.setSingleShot(true);
    m_pause.setInterval(ScanDetector::PauseMs);
    connect(&m_pause, &QTimer::timeout, this, &ScanCollector::paused);
}

ScanCollector::~ScanCollector()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void ScanCollector::startTaking(ScanTaker& taker)
{
    m_takers.removeAll(&taker);
    m_takers.append(&taker);
}

void ScanCollector::stopTaking(ScanTaker& taker)
{
    m_takers.removeAll(&taker);
}

QString ScanCollector::take()
{
    m_pause.stop();
    m_burstStart = 0;
    m_inScan = false;
    return std::exchange(m_digits, QString());
}

void ScanCollector::clear()
{
    take();
}

bool ScanCollector::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return QObject::eventFilter(watched, event);
    if (!taker())
        return false;
    const auto& key = *static_cast<QKeyEvent*>(event);
    const ScanDetector::Kind kind = m_detector.see(key);
    qCDebug(lcScan, "%s %d at %llu on %s: kind %d, burst %d, digits \"%s\"%s",
        event->type() == QEvent::KeyPress ? "press" : "release", key.key(),
        static_cast<unsigned long long>(key.timestamp()), watched->metaObject()->className(), int(kind),
        m_detector.burstLength(), qPrintable(m_digits), m_dropping ? ", dropping" : "");
    if (kind == ScanDetector::Kind::Ignored)
        return true;
    if (event->type() == QEvent::KeyRelease)
        return false;
    switch (kind) {
    case ScanDetector::Kind::Digit:
        return digit(key.text().at(0));
    case ScanDetector::Kind::End:
        return ended(key);
    case ScanDetector::Kind::Ignored:
    case ScanDetector::Kind::Other:
        break;
    }
    return false;
}

bool ScanCollector::digit(QChar digit)
{
    ScanTaker& to = *taker();
    if (!to.takesDigits())
        return false;
    if (!m_detector.continuesBurst())
        m_dropping = false;
    const int burst = m_detector.burstLength();
    if (burst == 1) {
        m_burstStart = m_digits.size();
        // Digits just before, a stutter away, are the same scanner's.
        m_afterScan = std::exchange(m_inScan, false) || (m_detector.stuttered() && !m_digits.isEmpty());
    } else if (burst == ScanDetector::MinScanDigits) {
        m_inScan = true;
        // A scan after digits typed by hand: those were a slip. After a
        // scan's own digits, it is the same scan paused a moment.
        if (!m_afterScan)
            m_digits.remove(0, m_burstStart);
        m_burstStart = 0;
    }
    if (m_dropping)
        return true;
    // While a burst may yet turn out a scan, only its own digits count.
    const qsizetype counted
        = burst > 1 && burst < ScanDetector::MinScanDigits ? m_digits.size() - m_burstStart : m_digits.size();
    if (counted >= SampleNumberLength) {
        // Another kind of barcode, never a sample: not even its first eight.
        refuse();
        return true;
    }
    m_refused = false;
    m_digits += digit;
    m_pause.start();
    to.digitsChanged();
    return true;
}

void ScanCollector::refuse()
{
    take();
    m_dropping = true;
    m_refused = true;
    if (ScanTaker* to = taker()) {
        to->digitsChanged();
        to->notASampleNumber();
    }
}

bool ScanCollector::ended(const QKeyEvent& key)
{
    m_pause.stop();
    // A refused scan's end, already told.
    if (std::exchange(m_dropping, false))
        return true;
    if (!m_detector.endedScan()) {
        const bool taken = taker()->typedEnded(key);
        qCDebug(lcScan, "typed end %s", taken ? "taken" : "passed on");
        return taken;
    }
    endAsScan();
    return true;
}

void ScanCollector::endAsScan()
{
    ScanTaker* to = taker();
    const QString number = take();
    if (!to)
        return;
    if (number.size() == SampleNumberLength)
        to->scanEnded(number);
    else
        to->notASampleNumber();
}

void ScanCollector::paused()
{
    ScanTaker* to = taker();
    if (!to || m_digits.isEmpty())
        return;
    if (!m_detector.scanning()) {
        to->typedPaused();
        return;
    }
    // A scanner set to send no suffix ends its number with a pause.
    endAsScan();
}
