#include "capture_window.h"

#include "ui_form_imagemaker.h"
#include "views.h"
#include "window_log.h"

#include <stdexcept>

void Form_ImageMaker::cmd_capture_Click()
{
    guarded([this] { captureChain(); });
}

void Form_ImageMaker::captureChain()
{
    // Each "Yes" to "Take picture now?" captures the next sample; a loop
    // rather than a nested call keeps the stack flat however long the chain.
    bool takeNow = true;
    while (takeNow) {
        try {
            captureAction();
        } catch (const std::exception& error) {
            // Shown, then the window settles as after any capture attempt.
            report(error);
        }
        takeNow = AcceptSampleNumber();
    }
}

void Form_ImageMaker::captureAction()
{
    m_captureError.clear();
    bool captured = false;
    try {
        captured = CaptureViews();
    } catch (const std::exception& error) {
        // The converters could not be started after a failed still either.
        if (m_captureError.isEmpty())
            m_captureError = QString::fromUtf8(error.what());
        showCaptureFailure();
        throw;
    }
    if (!captured) {
        showCaptureFailure();
        return;
    }
    RecordCapture();
    ui->lbl_Status->setText(QStringLiteral("Images have been captured"));
    const QString next = nextSampleNumber(CurrentSample);
    ShowSampleImages(CurrentSample);
    const Answer increment = m_prompts.askYesNo(this,
        QStringLiteral("Auto increment to next sample number (") + next + QLatin1Char(')'),
        QStringLiteral("Auto Increment"));
    if (increment.yes)
        m_scanDialog.setNumberText(next);
    else if (!increment.scanned.isEmpty())
        offerScan(increment.scanned);
    else
        openScanDialogLater(false);
}

void Form_ImageMaker::showCaptureFailure()
{
    // Stays in the status line until the next sample is armed.
    m_captureFailure = QStringLiteral("Capture failed: ") + m_captureError;
    ui->lbl_Status->setText(m_captureFailure);
}

bool Form_ImageMaker::CaptureViews()
{
    bool result = true;
    const views::View& live = views::named(CurrentView);
    const views::View& second = views::other(live);

    try {
        QString firstPath = m_store.imagePath(live.filePrefix, CurrentSample, image_store::BmpExtension);
        m_camera.SaveStill(0, 24, firstPath, QString());
        m_camera.SelectCamera(second.cameraIndex);
        QString secondPath = m_store.imagePath(second.filePrefix, CurrentSample, image_store::BmpExtension);
        m_camera.SaveStill(0, 24, secondPath, QString());
        finishCapture(live.cameraIndex);
    } catch (const std::exception& error) {
        result = false;
        m_captureError = QString::fromUtf8(error.what());
        qCWarning(lcWindow, "Capture of %s failed: %s", qPrintable(CurrentSample), error.what());
        finishCapture(live.cameraIndex);
    }
    return result;
}

void Form_ImageMaker::finishCapture(qint16 returnCamera)
{
    // The operator's view comes back while the stills are still being written.
    m_camera.SelectCamera(returnCamera);
    // The converters read the bitmaps: both must be in place first. Once
    // waited for, a still's failure is not raised a second time.
    m_store.waitForStills();
    for (const views::View* view : views::all()) {
        const QString& prefix = view->filePrefix;
        const QString sample = CurrentSample.trimmed();
        try {
            m_store.startConversion(
                m_store.converterCommand(prefix, CurrentSample), 2, m_conversions.begin(prefix, sample));
        } catch (const std::exception& error) {
            m_conversions.fail(prefix, sample, QString::fromUtf8(error.what()));
            throw;
        }
    }
}

void Form_ImageMaker::RecordCapture()
{
    const QDateTime now = m_clock();
    ui->lst_Captured->insertItem(static_cast<int>(CapturedCount),
        CurrentSample + QStringLiteral(" captured at.... ") + generalDateText(now, QLocale()));
    CapturedSamples.resize(CapturedCount + 1);
    CapturedSamples[CapturedCount] = CurrentSample;
    ++CapturedCount;
}

QString Form_ImageMaker::nextSampleNumber(const QString& sample)
{
    bool ok = false;
    const qlonglong number = sample.trimmed().toLongLong(&ok);
    if (!ok)
        throw std::invalid_argument("The sample number \"" + sample.toStdString() + "\" is not a number");
    return (QStringLiteral("00000000") + QString::number(number + 1)).right(8);
}

QString Form_ImageMaker::generalDateText(const QDateTime& when, const QLocale& locale)
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
