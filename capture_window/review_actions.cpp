#include "capture_window/capture_window.h"

#include "capture_window/views.h"
#include "ui_form_imagemaker.h"

void Form_ImageMaker::lst_Captured_DblClick()
{
    guarded([this] {
        const int index = ui->lst_Captured->currentRow();
        // No selection, or nothing captured yet: there is no entry to show.
        if (index < 0 || index >= m_session.capturedCount())
            return;
        ShowSampleImages(m_session.capturedSamples()[index]);
    });
}

void Form_ImageMaker::cmd_Redo_Click()
{
    guarded([this] {
        ui->cmd_Redo->hide();
        ui->cmd_Delete->hide();
        m_scanDialog.setNumberText(ui->lbl_Pictures->text());
        if (AcceptSampleNumber())
            captureChain();
    });
}

void Form_ImageMaker::cmd_Delete_Click()
{
    // A JPEG that cannot be deleted (read-only, locked) is reported by name.
    guarded([this] {
        const QString sample = ui->lbl_Pictures->text();
        // A conversion still at work writes nothing now: not a failure, and
        // no longer at work.
        for (const views::View* view : views::all()) {
            m_conversions.forget(view->filePrefix, sample.trimmed());
            QLabel* box = pictureBox(view->filePrefix);
            if (box->text() == ConvertingText)
                box->clear();
        }
        m_store.deleteJpegs(sample);
    });
}
