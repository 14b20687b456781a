#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

// What the capture window shows of a run, without its widgets: the armed
// sample, the history of captures and why the last capture failed.
class CaptureSession {
public:
    // The armed sample as read, not trimmed; empty while waiting.
    const QString& currentSample() const { return m_currentSample; }
    // A newly armed sample also ends the telling of the last failure.
    void arm(const QString& number);
    void disarm() { m_currentSample.clear(); }

    // Appends `sample`, captured at `when`, to the history and returns the
    // history line that tells of it.
    QString recordCapture(const QString& sample, const QDateTime& when, const QLocale& locale);
    const QStringList& capturedSamples() const { return m_capturedSamples; }
    qint64 capturedCount() const { return m_capturedSamples.size(); }

    // A capture attempt begins: the first reason it fails for is the one told.
    void beginAttempt() { m_attemptFailed = false; }
    // `status` in the operator's words, `detail` the whole reason.
    void captureFailed(const QString& status, const QString& detail);
    // The share found unreachable outside a capture: told the same way.
    void shareFailed(const QString& status, const QString& detail)
    {
        m_failureStatus = status;
        m_failureDetail = detail;
    }
    // The status line after a failed capture, until the next sample is armed.
    const QString& failureStatus() const { return m_failureStatus; }
    const QString& failureDetail() const { return m_failureDetail; }
    // The status line while no sample is armed.
    QString waitingStatus() const;

    // The sample number after `sample`, eight digits, wrapping after
    // 99999999. Throws std::invalid_argument when it is not a number.
    static QString nextSampleNumber(const QString& sample);
    // Short date, a blank, long time without a time zone; the date alone at
    // exactly midnight.
    static QString generalDateText(const QDateTime& when, const QLocale& locale);

private:
    QString m_currentSample;
    QStringList m_capturedSamples;
    bool m_attemptFailed = false;
    QString m_failureStatus;
    QString m_failureDetail;
};
