#pragma once

#include "scan_dialog/scan_detector.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

class QKeyEvent;

// Whoever takes the digits of the program's keys now: the window, the scan
// dialog, or a question. The last one to start taking gets them.
class ScanTaker {
public:
    virtual ~ScanTaker() = default;
    // Whether a digit typed now is collected; a digit not collected goes on
    // to the focused control.
    virtual bool takesDigits() const { return true; }
    virtual void digitsChanged() { }
    // A scan ended, by its suffix or its pause, with a whole sample number.
    virtual void scanEnded(const QString& number) = 0;
    // A scan that is no sample number: too short, or too long and dropped
    // at its ninth digit.
    virtual void notASampleNumber() = 0;
    // An Enter (or a scanner's lone Tab) after digits typed by hand, or
    // after none. Returns true when taken: the key then presses nothing.
    virtual bool typedEnded(const QKeyEvent& key) = 0;
    // Digits typed by hand, then a pause.
    virtual void typedPaused() { }
};

// The one collector of digits for the whole program: it sees every key
// press and release any window gets, before that window does, so a scan
// begun under one window ends under the next. What a scan is stays
// ScanDetector's rule.
class ScanCollector final : public QObject {
    Q_OBJECT
public:
    explicit ScanCollector(QObject* parent = nullptr);
    ~ScanCollector() override;

    // While taking, `taker` gets the digits; the last started gets them.
    void startTaking(ScanTaker& taker);
    void stopTaking(ScanTaker& taker);

    // The digits collected and not yet taken.
    const QString& digits() const { return m_digits; }
    QString take();
    void clear();
    // The digits collected end as a scan's do: a whole sample number, or
    // not one, told to whoever takes them.
    void endAsScan();
    // Whether the last digits were refused as too long, none since.
    bool refused() const { return m_refused; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool digit(QChar digit);
    bool ended(const QKeyEvent& key);
    void paused();
    void refuse();
    ScanTaker* taker() const { return m_takers.isEmpty() ? nullptr : m_takers.last(); }

    ScanDetector m_detector;
    QVector<ScanTaker*> m_takers;
    QString m_digits;
    // Where the burst now coming began in m_digits: what a person typed
    // before a scan is dropped once the burst is a scan.
    qsizetype m_burstStart = 0;
    // Whether the burst now coming is a scan, and whether the digits before
    // it are a scanner's too (a scan, or a stutter away).
    bool m_inScan = false;
    bool m_afterScan = false;
    // A refused scan's remaining digits are dropped up to its end.
    bool m_dropping = false;
    bool m_refused = false;
    QTimer m_pause;
};
