#include "prompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>

namespace {

class PlainMessageBox final : public QMessageBox {
public:
    PlainMessageBox(QWidget* parent, const QString& text, const QString& title, StandardButtons buttons)
        : QMessageBox(NoIcon, title.isEmpty() ? ApplicationTitle : title, text, buttons, parent)
    {
        setTextFormat(Qt::PlainText);
        m_answerRequired = buttons.testFlag(Yes);
        if (m_answerRequired)
            setDefaultButton(Yes);
    }

protected:
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
    bool m_answerRequired = false;
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
    PlainMessageBox box(parent, text, title, QMessageBox::Ok);
    runModal(box);
}

bool MessageBoxPrompts::askYesNo(QWidget* parent, const QString& text, const QString& title)
{
    PlainMessageBox box(parent, text, title, QMessageBox::Yes | QMessageBox::No);
    return runModal(box) == QMessageBox::Yes;
}
