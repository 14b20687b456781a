#include "capture_window/prompts.h"

#include "scan_dialog/scan_collector.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>

namespace {

class PlainMessageBox final : public QMessageBox, private ScanTaker {
public:
    PlainMessageBox(QWidget* parent, ScanCollector& scans, const QString& text, const QString& title,
        StandardButtons buttons)
        : QMessageBox(NoIcon, title.isEmpty() ? ApplicationTitle : title, text, buttons, parent)
        , m_scans(scans)
    {
        setTextFormat(Qt::PlainText);
        m_answerRequired = buttons.testFlag(Yes);
        if (m_answerRequired) {
            setDefaultButton(Yes);
            // A box with OK only leaves a scan to the window, for after it.
            m_scans.startTaking(*this);
        }
        installEventFilter(this);
        for (QAbstractButton* button : this->buttons())
            button->installEventFilter(this);
    }
    ~PlainMessageBox() override { m_scans.stopTaking(*this); }

    const QString& scanned() const { return m_scanned; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Any other key breaks digits typed by hand: they answer nothing.
        if (m_answerRequired && event->type() == QEvent::KeyPress
            && !static_cast<QKeyEvent*>(event)->text().isEmpty())
            m_scans.clear();
        return QMessageBox::eventFilter(watched, event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (m_answerRequired && event->key() == Qt::Key_Escape) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override
    {
        if (m_answerRequired && !clickedButton()) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }

private:
    // Digits are a scan, of another sample, never a Yes; Enter alone is.
    // A whole sample number answers No and is armed instead; anything else
    // answers nothing and is dropped.
    void scanEnded(const QString& number) override
    {
        m_scanned = number;
        button(No)->click();
    }
    void notASampleNumber() override { setInformativeText(NotASampleNumber); }
    bool typedEnded(const QKeyEvent&) override
    {
        if (m_scans.digits().isEmpty())
            return false;
        m_scans.endAsScan();
        return true;
    }

    ScanCollector& m_scans;
    bool m_answerRequired = false;
    QString m_scanned;
};

int runModal(QMessageBox& box)
{
    const QPointer<QWidget> hadFocus = QApplication::focusWidget();
    box.exec();
    if (hadFocus)
        hadFocus->setFocus(Qt::OtherFocusReason);
    return box.standardButton(box.clickedButton());
}

} // namespace

void MessageBoxPrompts::showMessage(QWidget* parent, const QString& text, const QString& title)
{
    PlainMessageBox box(parent, m_scans, text, title, QMessageBox::Ok);
    runModal(box);
}

Answer MessageBoxPrompts::askYesNo(
    QWidget* parent, const QString& text, const QString& title, bool noByDefault)
{
    PlainMessageBox box(parent, m_scans, text, title, QMessageBox::Yes | QMessageBox::No);
    if (noByDefault)
        box.setDefaultButton(QMessageBox::No);
    m_question = &box;
    const bool yes = runModal(box) == QMessageBox::Yes;
    return { yes, box.scanned() };
}

void MessageBoxPrompts::addToOpenQuestion(const QString& line)
{
    if (m_question)
        m_question->setText(m_question->text() + QLatin1Char('\n') + line);
}
