#pragma once

#include <QDialog>

#include <memory>

class QKeyEvent;
class ScanDetector;

namespace Ui {
class Frm_Wo;
}

// The modal dialog that collects a sample number of up to eight digits. It
// never checks the number: the owner reads the label once it has hidden.
class Frm_Wo : public QDialog {
    Q_OBJECT
public:
    // Keys are told apart by `scans`, which every window of the program shares.
    explicit Frm_Wo(ScanDetector& scans, QWidget* owner = nullptr);
    ~Frm_Wo() override;

    // True once the operator chose Exit.
    bool ExitSoftware = false;

    // The caption of txt_Wo, the one place a pending sample number is held.
    QString numberText() const;
    void setNumberText(const QString& text);

    // A digit typed while no dialog was open, which the capture window
    // collects here; `sameBurst` when it came right after the one before.
    void digitTyped(QChar digit, bool sameBurst);
    // Whether a scan longer than a sample number was refused, keeping nothing.
    bool refusedTooLong() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The title bar's close control; it acts as Cancel.
    void reject() override;

private:
    // One typed key, as the focused OK or Cancel button sees it. Returns
    // true when the key was taken and must not press a button.
    bool keyTyped(const QKeyEvent& key);
    void refuseTooLong();
    void load();
    void characterTyped(QChar character);
    void cmd_Ok_Click();
    void cmd_Cancel_Click();
    void cmd_Exit_Click();

    std::unique_ptr<Ui::Frm_Wo> ui;
    ScanDetector& m_scans;
    int m_typedDigits = 0;
    // The rest of a scan found too long is dropped up to its end.
    bool m_droppingScan = false;
};
