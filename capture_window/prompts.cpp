#include "capture_window/prompts.h"

#include "scan_dialog/scan_detector.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

class PlainMessageBox final : public QMessageBox {
public:
    PlainMessageBox(QWidget* parent, ScanDetector& scans, const QString& text, const QString& title,
        StandardButtons buttons)
        : QMessageBox(NoIcon, title.isEmpty() ? ApplicationTitle : title, text, buttons, parent)
        , m_scans(scans)
    {
        setTextFormat(Qt::PlainText);
        m_answerRequired = buttons.testFlag(Yes);
        if (m_answerRequired)
            setDefaultButton(Yes);
        m_pause.setSingleShot(true);
        m_pause.setInterval(ScanDetector::PauseMs);
        connect(&m_pause, &QTimer::timeout, this, &PlainMessageBox::scanEnded);
        installEventFilter(this);
        for (QAbstractButton* button : this->buttons())
            button->installEventFilter(this);
    }

    const QString& scanned() const { return m_scanned; }
    void carry(const QString& digits) { m_digits = digits; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const ScanDetector::Kind kind = m_scans.see(*key);
            if (kind == ScanDetector::Kind::Ignored)
                return true;
            if (m_answerRequired && event->type() == QEvent::KeyPress && takeScanKey(*key, kind))
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
    // Digits are a scan, of another sample, never a Yes; Enter alone is.
    bool takeScanKey(const QKeyEvent& key, ScanDetector::Kind kind)
    {
        switch (kind) {
        case ScanDetector::Kind::Digit:
            if (m_scans.burstLength() == 1)
                m_burstStart = m_digits.size();
            else if (m_scans.burstLength() == 2)
                m_digits.remove(0, m_burstStart);
            m_digits += key.text();
            // A scanner with no suffix ends with a pause; a person's stray
            // digit waits for the Enter after it, which then answers nothing.
            if (m_scans.scanning())
                m_pause.start();
            else
                m_pause.stop();
            return true;
        case ScanDetector::Kind::End:
            if (m_digits.isEmpty()) {
                // A scan whose digits came before this question was on screen.
                if (!m_scans.endedScan())
                    return false;
                setInformativeText(NotASampleNumber);
                return true;
            }
            scanEnded();
            return true;
        case ScanDetector::Kind::Ignored:
        case ScanDetector::Kind::Other:
            break;
        }
        m_digits.clear();
        m_pause.stop();
        return false;
    }

    // A whole sample number answers No and is armed instead; anything else
    // answers nothing and is dropped.
    void scanEnded()
    {
        m_pause.stop();
        const QString digits = std::exchange(m_digits, QString());
        if (digits.size() == SampleNumberLength) {
            m_scanned = digits;
            button(No)->click();
            return;
        }
        setInformativeText(NotASampleNumber);
    }

    ScanDetector& m_scans;
    bool m_answerRequired = false;
    QString m_digits;
    qsizetype m_burstStart = 0;
    QString m_scanned;
    QTimer m_pause;
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

Answer MessageBoxPrompts::askYesNo(QWidget* parent, const QString& text, const QString& title)
{
    PlainMessageBox box(parent, m_scans, text, title, QMessageBox::Yes | QMessageBox::No);
    box.carry(std::exchange(m_carried, QString()));
    const bool yes = runModal(box) == QMessageBox::Yes;
    return { yes, box.scanned() };
}
