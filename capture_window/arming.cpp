#include "capture_window/capture_window.h"

#include "scan_dialog/frm_wo.h"
#include "ui_form_imagemaker.h"

#include <QApplication>

void Form_ImageMaker::Timer1_Timer()
{
    Timer1->stop();
    runStartupCheckWhenIdle();
}

void Form_ImageMaker::runStartupCheckWhenIdle()
{
    // A modal box or the scan dialog may already be open (the camera message,
    // or "Get Wo" used within the first second); the check waits for it.
    m_held.whenNoBoxIsOpen([this] {
        if (isVisible())
            guarded([this] { CheckSampleOnStartup(); });
    });
}

void Form_ImageMaker::CheckSampleOnStartup()
{
    ui->cmd_capture->setEnabled(!ui->lbl_labnumber->text().isEmpty());
    ui->cmd_View->setEnabled(ui->cmd_capture->isEnabled());
    if (!ui->cmd_capture->isEnabled())
        getWoAction();
}

void Form_ImageMaker::cmd_wo_Click()
{
    guarded([this] { getWoAction(); });
}

void Form_ImageMaker::getWoAction(bool showDialog)
{
    // The dialog is unloaded however this ends, an error included.
    struct Unload {
        ScanDialogAccess& dialog;
        ~Unload() { dialog.unload(); }
    } unload { m_scanDialog };

    if (showDialog) {
        m_scanDialog.showModal();
        if (m_scanDialog.exitSoftware()) {
            cmd_Close_Click();
            return;
        }
    }
    if (AcceptSampleNumber())
        captureChain();
}

void Form_ImageMaker::openScanDialogLater()
{
    // Once the handling that asks for it has finished.
    m_held.whenNoBoxIsOpen([this] {
        if (isVisible())
            guarded([this] { getWoAction(true); });
    });
}

bool Form_ImageMaker::AcceptSampleNumber()
{
    for (;;) {
        m_session.disarm();
        const QString text = m_scanDialog.numberText();
        if (text.size() != SampleNumberLength) {
            // Empty, or a number of the wrong length: nothing is armed, and
            // the window must not look armed either; the digits are dropped,
            // so none is left in front of the next scan.
            if (!text.isEmpty())
                m_scanDialog.setNumberText(QString());
            enterWaiting();
            ui->cmd_View->setEnabled(false);
            return false;
        }
        showStatus(QStringLiteral("Ready"));
        ui->lbl_labnumber->setText(QStringLiteral(" Current sample in view : ") + text.trimmed());
        m_session.arm(text);
        m_scanDialog.setNumberText(QString());
        ui->cmd_capture->setEnabled(true);
        ui->cmd_View->setEnabled(true);
        const Answer answer
            = m_prompts.askYesNo(this, QStringLiteral("Take picture now?"), QStringLiteral("Take picture"));
        if (answer.scanned.isEmpty())
            return answer.yes;
        // Scanned while asked: not this sample, the one just scanned.
        m_scanDialog.setNumberText(answer.scanned);
    }
}

void Form_ImageMaker::typedScanEnded(bool byEnter)
{
    m_typedScanPause.stop();
    Frm_Wo& dialog = m_scanDialog.dialog();
    // A scan's Enter arms its number as the dialog's OK would; digits typed
    // by hand, or a refused scan, open the dialog to go on with.
    const bool show = !byEnter || dialog.refusedTooLong();
    m_held.whenNoBoxIsOpen([this, show] { guarded([this, show] { getWoAction(show); }); });
}

void Form_ImageMaker::enterWaiting()
{
    // A failed capture's reason stays until the next sample is armed.
    showStatus(m_session.waitingStatus(), m_session.failureDetail());
    ui->lbl_labnumber->setText(QString());
    ui->cmd_capture->setEnabled(false);
}
