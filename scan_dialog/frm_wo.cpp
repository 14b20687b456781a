#include "scan_dialog/frm_wo.h"

#include "scan_dialog/scan_detector.h"
#include "scan_dialog/window_conventions.h"
#include "ui_frm_wo.h"

#include <QKeyEvent>
#include <QPushButton>

Frm_Wo::Frm_Wo(ScanCollector& scans, QWidget* owner)
    : QDialog(owner)
    , ui(std::make_unique<Ui::Frm_Wo>())
    , m_scans(scans)
{
    ui->setupUi(this);
    setFixedSize(size());

    QPalette white = ui->txt_Wo->palette();
    white.setColor(QPalette::Window, Qt::white);
    ui->txt_Wo->setPalette(white);

    // No text is composed here; an input method would only delay or reorder
    // the scanner's keystrokes.
    for (QWidget* widget : { static_cast<QWidget*>(this), static_cast<QWidget*>(ui->cmd_Ok),
             static_cast<QWidget*>(ui->cmd_Cancel), static_cast<QWidget*>(ui->cmd_Exit) })
        widget->setAttribute(Qt::WA_InputMethodEnabled, false);

    applyButtonConventions(this);

    connect(ui->cmd_Ok, &QPushButton::clicked, this, &Frm_Wo::cmd_Ok_Click);
    connect(ui->cmd_Cancel, &QPushButton::clicked, this, &Frm_Wo::cmd_Cancel_Click);
    connect(ui->cmd_Exit, &QPushButton::clicked, this, &Frm_Wo::cmd_Exit_Click);

    load();
}

Frm_Wo::~Frm_Wo()
{
    // Destroyed while shown: its digits go with it.
    hide();
}

void Frm_Wo::load()
{
    ExitSoftware = false;
    setNumberText(QString());
    ui->lbl_Refused->hide();
    ui->txt_Wo->setFont(QFont(QStringLiteral("Arial"), 12, QFont::Bold));
}

QString Frm_Wo::numberText() const
{
    return ui->txt_Wo->text();
}

void Frm_Wo::setNumberText(const QString& text)
{
    m_written = !text.isEmpty();
    ui->txt_Wo->setText(text);
}

bool Frm_Wo::takesDigits() const
{
    return focusWidget() != ui->cmd_Exit;
}

void Frm_Wo::digitsChanged()
{
    if (m_written)
        return;
    ui->txt_Wo->setText(m_scans.digits());
    if (!m_scans.digits().isEmpty())
        ui->lbl_Refused->hide();
}

void Frm_Wo::scanEnded(const QString& number)
{
    // Whichever of OK and Cancel has the focus: a Tab pressed before it
    // must not make the scanner cancel its number.
    if (!m_written)
        ui->txt_Wo->setText(number);
    cmd_Ok_Click();
}

void Frm_Wo::notASampleNumber()
{
    if (m_written)
        return;
    ui->txt_Wo->setText(QString());
    ui->lbl_Refused->show();
}

bool Frm_Wo::typedEnded(const QKeyEvent& key)
{
    // A person's Enter presses the focused button; a Tab that ends digits
    // at a scanner's pace, too short for a scan, does the same.
    if (key.key() != Qt::Key_Tab)
        return false;
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
        button->click();
    return true;
}

void Frm_Wo::keyPressEvent(QKeyEvent* event)
{
    // Escape is bound to nothing here.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Frm_Wo::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ui->cmd_Ok->setFocus(Qt::OtherFocusReason);
    // Digits typed before it opened, or a scan refused, show in it.
    m_scans.startTaking(*this);
    if (!m_scans.digits().isEmpty())
        digitsChanged();
    else if (m_scans.refused())
        notASampleNumber();
}

void Frm_Wo::hideEvent(QHideEvent* event)
{
    m_scans.stopTaking(*this);
    // The number is in the caption now, or cancelled.
    m_scans.clear();
    QDialog::hideEvent(event);
}

void Frm_Wo::reject()
{
    cmd_Cancel_Click();
}

void Frm_Wo::cmd_Ok_Click()
{
    hide();
}

void Frm_Wo::cmd_Cancel_Click()
{
    setNumberText(QString());
    hide();
}

void Frm_Wo::cmd_Exit_Click()
{
    ExitSoftware = true;
    cmd_Cancel_Click();
}
