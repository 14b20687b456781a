#pragma once

#include <QDialog>
#include <QTimer>

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

    // A digit typed, here or while no dialog was open (the capture window
    // collects those here), just after the scan detector has seen it.
    void digitTyped(QChar digit);
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
    int m_burstStart = 0;
    QTimer m_pause;
    // The rest of a scan found too long is dropped up to its end.
    bool m_droppingScan = false;
};
