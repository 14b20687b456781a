#include "scan_dialog/frm_wo.h"

#include "scan_dialog/scan_detector.h"
#include "scan_dialog/window_conventions.h"
#include "ui_frm_wo.h"

#include <QKeyEvent>
#include <QPushButton>

#include <utility>

Frm_Wo::Frm_Wo(ScanDetector& scans, QWidget* owner)
    : QDialog(owner)
    , ui(std::make_unique<Ui::Frm_Wo>())
    , m_scans(scans)
{
    ui->setupUi(this);
    setFixedSize(size());
    // Opens where the window system puts new windows, not centred on the owner.
    setAttribute(Qt::WA_Moved);

    QPalette white = ui->txt_Wo->palette();
    white.setColor(QPalette::Window, Qt::white);
    ui->txt_Wo->setPalette(white);

    // No text is composed here; an input method would only delay or reorder
    // the scanner's keystrokes.
    for (QWidget* widget : { static_cast<QWidget*>(this), static_cast<QWidget*>(ui->cmd_Ok),
             static_cast<QWidget*>(ui->cmd_Cancel), static_cast<QWidget*>(ui->cmd_Exit) })
        widget->setAttribute(Qt::WA_InputMethodEnabled, false);

    applyButtonConventions(this);

    ui->cmd_Ok->installEventFilter(this);
    ui->cmd_Cancel->installEventFilter(this);
    // A scanner set to send no suffix ends its number with a pause.
    m_pause.setSingleShot(true);
    m_pause.setInterval(ScanDetector::PauseMs);
    connect(&m_pause, &QTimer::timeout, this, [this] {
        if (isVisible() && !m_droppingScan && numberText().size() == SampleNumberLength)
            cmd_Ok_Click();
    });
    connect(ui->cmd_Ok, &QPushButton::clicked, this, &Frm_Wo::cmd_Ok_Click);
    connect(ui->cmd_Cancel, &QPushButton::clicked, this, &Frm_Wo::cmd_Cancel_Click);
    connect(ui->cmd_Exit, &QPushButton::clicked, this, &Frm_Wo::cmd_Exit_Click);

    load();
}

Frm_Wo::~Frm_Wo() = default;

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
    // Written, not typed: digits typed after it are its own rule's concern.
    m_typedDigits = 0;
    ui->txt_Wo->setText(text);
}

bool Frm_Wo::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == ui->cmd_Ok || watched == ui->cmd_Cancel)
        && keyTyped(*static_cast<QKeyEvent*>(event)))
        return true;
    // The key goes on to the button, which presses on Enter and Space.
    return QDialog::eventFilter(watched, event);
}

bool Frm_Wo::keyTyped(const QKeyEvent& key)
{
    switch (m_scans.see(key)) {
    case ScanDetector::Kind::Ignored:
        return true;
    case ScanDetector::Kind::Digit:
        digitTyped(key.text().at(0));
        if (m_scans.scanning())
            m_pause.start();
        else
            m_pause.stop();
        return false;
    case ScanDetector::Kind::End:
        m_pause.stop();
        // The end of a refused scan must not accept an empty number.
        if (std::exchange(m_droppingScan, false))
            return true;
        // A scan's end accepts it, whichever of OK and Cancel has the focus:
        // a Tab pressed before it must not make the scanner cancel its number.
        if (m_scans.endedScan()) {
            cmd_Ok_Click();
            return true;
        }
        // A scanner's Tab ends its scan as its Enter would.
        if (key.key() == Qt::Key_Tab) {
            if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
                button->click();
            return true;
        }
        return false;
    case ScanDetector::Kind::Other:
        break;
    }
    return false;
}

void Frm_Wo::digitTyped(QChar digit)
{
    if (!m_scans.continuesBurst())
        m_droppingScan = false;
    // A scan that begins after digits typed by hand is a number of its
    // own: those digits were a slip, and go.
    if (m_scans.burstLength() == 1) {
        m_burstStart = m_typedDigits;
    } else if (m_scans.burstLength() == 2 && m_burstStart > 0 && m_typedDigits > m_burstStart) {
        ui->txt_Wo->setText(numberText().mid(m_burstStart));
        m_typedDigits -= m_burstStart;
        m_burstStart = 0;
        m_droppingScan = false;
    }
    characterTyped(digit);
}

void Frm_Wo::characterTyped(QChar character)
{
    if (character < QLatin1Char('0') || character > QLatin1Char('9') || m_droppingScan)
        return;
    ui->lbl_Refused->hide();
    const QString current = numberText();
    if (current.size() >= SampleNumberLength) {
        // A number another part wrote keeps its digits; a typed one that
        // grows past eight is another kind of barcode, never a sample.
        if (m_typedDigits > 0) {
            refuseTooLong();
            m_droppingScan = true;
        }
        return;
    }
    ui->txt_Wo->setText(current + character);
    ++m_typedDigits;
}

void Frm_Wo::refuseTooLong()
{
    setNumberText(QString());
    ui->lbl_Refused->show();
}

bool Frm_Wo::refusedTooLong() const
{
    return !ui->lbl_Refused->isHidden();
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
