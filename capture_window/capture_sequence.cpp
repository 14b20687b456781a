#include "capture_window/capture_window.h"

#include "capture_window/failure_words.h"

#include "capture_window/views.h"
#include "capture_window/window_log.h"
#include "ui_form_imagemaker.h"

#include <QScopeGuard>

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
    m_session.beginAttempt();
    bool captured = false;
    try {
        captured = CaptureViews();
    } catch (const std::exception& error) {
        // The converters could not be started after a failed still either.
        m_session.captureFailed(captureFailureText(error), QString::fromUtf8(error.what()));
        showCaptureFailure();
        throw;
    }
    if (!captured) {
        showCaptureFailure();
        return;
    }
    RecordCapture();
    showStatus(QStringLiteral("Images have been captured"));
    const QString sample = m_session.currentSample();
    const QString next = CaptureSession::nextSampleNumber(sample);
    ShowSampleImages(sample);
    const Answer increment = m_prompts.askYesNo(this,
        QStringLiteral("Auto increment to next sample number (") + next + QLatin1Char(')'),
        QStringLiteral("Auto Increment"));
    if (increment.yes)
        m_scanDialog.setNumberText(next);
    else if (!increment.scanned.isEmpty())
        m_scanDialog.setNumberText(increment.scanned);
    else
        openScanDialogLater();
}

void Form_ImageMaker::showCaptureFailure()
{
    // Stays in the status line until the next sample is armed.
    showStatus(m_session.failureStatus(), m_session.failureDetail());
}

bool Form_ImageMaker::CaptureViews()
{
    bool result = true;
    const views::View& live = views::named(CurrentView);
    const views::View& second = views::other(live);
    const QString& sample = m_session.currentSample();

    try {
        m_store.beginTake(sample.trimmed());
        QString firstPath = m_store.imagePath(live.filePrefix, sample, image_store::BmpExtension);
        m_camera.beginCapture();
        m_camera.SaveStill(0, 24, firstPath, QString());
        m_camera.SelectCamera(second.cameraIndex);
        QString secondPath = m_store.imagePath(second.filePrefix, sample, image_store::BmpExtension);
        m_camera.SaveStill(0, 24, secondPath, QString());
        finishCapture(live.cameraIndex);
    } catch (const image_store::SampleTakenElsewhere& error) {
        // Its pictures may be another bench's, or a mix: nothing is converted,
        // and the operator is told in a box that it must be taken again.
        m_session.captureFailed(captureFailureText(error), QString::fromUtf8(error.what()));
        qCWarning(lcWindow, "Capture of %s failed: %s", qPrintable(sample), error.what());
        finishCapture(live.cameraIndex, false);
        throw;
    } catch (const std::exception& error) {
        result = false;
        m_session.captureFailed(captureFailureText(error), QString::fromUtf8(error.what()));
        qCWarning(lcWindow, "Capture of %s failed: %s", qPrintable(sample), error.what());
        finishCapture(live.cameraIndex);
    }
    return result;
}

void Form_ImageMaker::finishCapture(qint16 returnCamera, bool convert)
{
    // The sample is this bench's until its converters are under way.
    const auto endTake = qScopeGuard([this] { m_store.endTake(); });
    // The operator's view comes back while the stills are still being written.
    m_camera.SelectCamera(returnCamera);
    // The converters read the bitmaps: both must be in place, and both this
    // take's, first. Once waited for, a still's failure is not raised a
    // second time.
    m_store.waitForStills();
    if (!convert)
        return;
    const QString& current = m_session.currentSample();
    for (const views::View* view : views::all()) {
        const QString& prefix = view->filePrefix;
        const QString sample = current.trimmed();
        try {
            const QString command = m_store.converterCommand(prefix, current);
            // Tried again later without a wait: the operator is on to the next sample by then.
            auto restart = [this, command](image_store::ProcessLauncher::Finished finished) {
                m_store.startConversionLater(command, std::move(finished));
            };
            m_store.startConversion(command, 2, m_conversions.begin(prefix, sample, restart));
        } catch (const std::exception& error) {
            m_conversions.fail(prefix, sample, QString::fromUtf8(error.what()));
            throw;
        }
    }
}

void Form_ImageMaker::RecordCapture()
{
    ui->lst_Captured->addItem(m_session.recordCapture(m_clock(), QLocale()));
    // The newest capture stays in sight, however long the run.
    ui->lst_Captured->scrollToBottom();
}
