#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Frm_Wo;
}

// The modal dialog that collects a sample number of up to eight digits. It
// never checks the number: the owner reads the label once it has hidden.
class Frm_Wo : public QDialog {
    Q_OBJECT
public:
    explicit Frm_Wo(QWidget* owner = nullptr);
    ~Frm_Wo() override;

    // True once the operator chose Exit.
    bool ExitSoftware = false;

    // The caption of txt_Wo, the one place a pending sample number is held.
    QString numberText() const;
    void setNumberText(const QString& text);

    static constexpr int MaxDigits = 8;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The title bar's close control; it acts as Cancel.
    void reject() override;

private:
    void load();
    void characterTyped(QChar character);
    void cmd_Ok_Click();
    void cmd_Cancel_Click();
    void cmd_Exit_Click();

    std::unique_ptr<Ui::Frm_Wo> ui;
};
