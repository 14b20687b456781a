#pragma once

#include "scan_dialog/scan_collector.h"

#include <QDialog>

#include <memory>

namespace Ui {
class Frm_Wo;
}

// The modal dialog that collects a sample number of up to eight digits. It
// never checks the number: the owner reads the label once it has hidden.
class Frm_Wo : public QDialog, private ScanTaker {
    Q_OBJECT
public:
    // While shown, the dialog takes the digits `scans` collects.
    explicit Frm_Wo(ScanCollector& scans, QWidget* owner = nullptr);
    ~Frm_Wo() override;

    // True once the operator chose Exit.
    bool ExitSoftware = false;

    // The caption of txt_Wo, the one place a pending sample number is held.
    // A number written here stays as it is; one typed shows as it comes.
    QString numberText() const;
    void setNumberText(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // The title bar's close control; it acts as Cancel.
    void reject() override;

private:
    // Digits go to the number from OK and Cancel, not from Exit.
    bool takesDigits() const override;
    void digitsChanged() override;
    void scanEnded(const QString& number) override;
    void notASampleNumber() override;
    bool typedEnded(const QKeyEvent& key) override;

    void load();
    void cmd_Ok_Click();
    void cmd_Cancel_Click();
    void cmd_Exit_Click();

    std::unique_ptr<Ui::Frm_Wo> ui;
    ScanCollector& m_scans;
    bool m_written = false;
};
