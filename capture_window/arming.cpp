#include "capture_window.h"

#include "ui_form_imagemaker.h"

#include <QApplication>

namespace {
constexpr int RecheckWhileModalMs = 100;
}

void Form_ImageMaker::Timer1_Timer()
{
    Timer1->stop();
    runStartupCheckWhenIdle();
}

void Form_ImageMaker::runStartupCheckWhenIdle()
{
    // A modal box or the scan dialog may already be open (the camera message,
    // or "Get Wo" used within the first second); the check waits for it.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(RecheckWhileModalMs, this, &Form_ImageMaker::runStartupCheckWhenIdle);
        return;
    }
    if (isVisible())
        guarded([this] { CheckSampleOnStartup(); });
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

void Form_ImageMaker::getWoAction()
{
    // The dialog is unloaded however this ends, an error included.
    struct Unload {
        ScanDialogAccess& dialog;
        ~Unload() { dialog.unload(); }
    } unload{m_scanDialog};

    m_scanDialog.showModal();
    if (m_scanDialog.exitSoftware()) {
        cmd_Close_Click();
        return;
    }
    if (AcceptSampleNumber())
        captureChain();
}

bool Form_ImageMaker::AcceptSampleNumber()
{
    CurrentSample.clear();
    const QString text = m_scanDialog.numberText();
    bool takeNow = false;
    if (text.size() == 8) {
        ui->lbl_Status->setText(QStringLiteral("Ready"));
        ui->lbl_labnumber->setText(QStringLiteral(" Current sample in view : ") + text.trimmed());
        CurrentSample = text;
        m_scanDialog.setNumberText(QString());
        ui->cmd_capture->setEnabled(true);
        takeNow = m_prompts.askYesNo(this, QStringLiteral("Take picture now?"), QStringLiteral("Take picture"));
    } else {
        // Empty, or a number of the wrong length: nothing is armed, and the
        // window must not look armed either.
        enterWaiting();
    }
    ui->cmd_View->setEnabled(ui->cmd_capture->isEnabled());
    return takeNow;
}

void Form_ImageMaker::enterWaiting()
{
    ui->lbl_Status->setText(QStringLiteral("Waiting..."));
    ui->lbl_labnumber->setText(QString());
    ui->cmd_capture->setEnabled(false);
}
