#include "capture_window/capture_session.h"

#include <stdexcept>
#include <utility>

void CaptureSession::arm(const QString& number)
{
    m_currentSample = number;
    m_failureStatus.clear();
    m_failureDetail.clear();
}

QString CaptureSession::recordCapture(const QString& sample, const QDateTime& when, const QLocale& locale)
{
    m_capturedSamples.append(sample);
    return sample + QStringLiteral(" captured at.... ") + generalDateText(when, locale);
}

void CaptureSession::captureFailed(const QString& status, const QString& detail)
{
    if (std::exchange(m_attemptFailed, true))
        return;
    m_failureStatus = status;
    m_failureDetail = detail;
}

QString CaptureSession::waitingStatus() const
{
    return m_failureStatus.isEmpty() ? QStringLiteral("Waiting...") : m_failureStatus;
}

QString CaptureSession::nextSampleNumber(const QString& sample)
{
    bool ok = false;
    const qlonglong number = sample.trimmed().toLongLong(&ok);
    if (!ok)
        throw std::invalid_argument("The sample number \"" + sample.toStdString() + "\" is not a number");
    return (QStringLiteral("00000000") + QString::number(number + 1)).right(8);
}

QString CaptureSession::generalDateText(const QDateTime& when, const QLocale& locale)
{
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime time = when.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return date;

    // The locale's long time format without its time-zone field ("t").
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString withoutZone;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        withoutZone += c;
    }
    return date + QLatin1Char(' ') + locale.toString(time, withoutZone.trimmed());
}
