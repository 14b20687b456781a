#pragma once

#include <QString>

#include <functional>
#include <memory>

class QWidget;
class Frm_Wo;
class ScanCollector;

// The one shared scan dialog: created, with its load step, on first use and
// destroyed only by its owner. Holding the dialog here means the owner never
// keeps a pointer to a dialog that has gone.
class ScanDialogAccess {
public:
    // How the dialog is shown modally: it returns once the dialog has hidden
    // itself. By default the dialog's own event loop.
    using ShowModal = std::function<void(Frm_Wo&)>;

    ScanDialogAccess(QWidget* owner, ScanCollector& scans, ShowModal showModal = {});
    ~ScanDialogAccess();
    ScanDialogAccess(const ScanDialogAccess&) = delete;
    ScanDialogAccess& operator=(const ScanDialogAccess&) = delete;

    bool isLoaded() const { return m_dialog != nullptr; }
    Frm_Wo& dialog();

    QString numberText();
    void setNumberText(const QString& text);
    bool exitSoftware();
    // Shows the dialog modally and returns once it has hidden itself.
    void showModal();
    void unload();

private:
    QWidget* m_owner;
    ScanCollector& m_scans;
    ShowModal m_showModal;
    std::unique_ptr<Frm_Wo> m_dialog;
};
