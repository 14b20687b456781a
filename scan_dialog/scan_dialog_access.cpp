#include "scan_dialog/scan_dialog_access.h"

#include "scan_dialog/frm_wo.h"

ScanDialogAccess::ScanDialogAccess(QWidget* owner, ScanCollector& scans, ShowModal showModal)
    : m_owner(owner)
    , m_scans(scans)
    , m_showModal(std::move(showModal))
{
}

ScanDialogAccess::~ScanDialogAccess() = default;

Frm_Wo& ScanDialogAccess::dialog()
{
    if (!m_dialog)
        m_dialog = std::make_unique<Frm_Wo>(m_scans, m_owner);
    return *m_dialog;
}

QString ScanDialogAccess::numberText()
{
    return dialog().numberText();
}

void ScanDialogAccess::setNumberText(const QString& text)
{
    dialog().setNumberText(text);
}

bool ScanDialogAccess::exitSoftware()
{
    return dialog().ExitSoftware;
}

void ScanDialogAccess::showModal()
{
    Frm_Wo& shown = dialog();
    shown.setWindowModality(Qt::ApplicationModal);
    if (m_showModal)
        m_showModal(shown);
    else
        shown.exec();
}

void ScanDialogAccess::unload()
{
    m_dialog.reset();
}
