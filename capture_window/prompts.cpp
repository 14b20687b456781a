#include "capture_window/prompts.h"

#include "scan_dialog/window_conventions.h"

#include <QAbstractButton>
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
        installEventFilter(this);
        for (QAbstractButton* button : this->buttons())
            button->installEventFilter(this);
    }

    const QString& scanned() const { return m_scanned; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (isKeyRepeat(*key) && isPressKey(key->key()))
                return true;
            if (m_answerRequired && event->type() == QEvent::KeyPress && takeScanKey(*key))
                return true;
        }
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
    static bool isPressKey(int key)
    {
        return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
    }

    // Digits then Enter are a scan of another sample, never a Yes.
    bool takeScanKey(const QKeyEvent& key)
    {
        if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
            if (m_digits.isEmpty())
                return false;
            m_scanned = m_digits;
            button(No)->click();
            return true;
        }
        const QString text = key.text();
        if (text.size() == 1 && text.at(0).isDigit() && text.at(0).unicode() < 128) {
            m_digits += text;
            return true;
        }
        m_digits.clear();
        return false;
    }

    bool m_answerRequired = false;
    QString m_digits;
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
    PlainMessageBox box(parent, text, title, QMessageBox::Ok);
    runModal(box);
}

Answer MessageBoxPrompts::askYesNo(QWidget* parent, const QString& text, const QString& title)
{
    PlainMessageBox box(parent, text, title, QMessageBox::Yes | QMessageBox::No);
    const bool yes = runModal(box) == QMessageBox::Yes;
    return { yes, box.scanned() };
}
