#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QtGlobal>

class QWidget;
class ScanCollector;

inline const QString ApplicationTitle = QStringLiteral("ImageMaker");
// What a question says when keys that are not a whole sample number end.
inline const QString NotASampleNumber = QStringLiteral("Not a sample number: scan again");

// The answer to a Yes/No question. A whole sample number scanned while the
// question is open answers No and carries it.
struct Answer {
    bool yes = false;
    QString scanned;
};

// Modal message boxes. An empty title shows the application's own.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void showMessage(QWidget* parent, const QString& text, const QString& title = {}) = 0;
    // Yes is the default answer, so Enter answers Yes; unless `noByDefault`.
    virtual Answer askYesNo(
        QWidget* parent, const QString& text, const QString& title = {}, bool noByDefault = false)
        = 0;
    // A line under the text of the Yes/No question open now, if one is.
    virtual void addToOpenQuestion(const QString& line) = 0;
};

// The real boxes: no icon, OK or Yes/No. A Yes/No box has no way out but its
// two buttons; Escape and the close control do nothing there, nor does a
// held (auto-repeated) Enter or Space, nor the rest of the scan that opened
// it (a CR+LF's second Enter). Digits that are not a whole sample number
// answer nothing: the box says so and drops them. The focus goes back to the
// control that had it when the box closes.
class MessageBoxPrompts final : public Prompts {
public:
    explicit MessageBoxPrompts(ScanCollector& scans)
        : m_scans(scans)
    {
    }
    void showMessage(QWidget* parent, const QString& text, const QString& title = {}) override;
    Answer askYesNo(
        QWidget* parent, const QString& text, const QString& title = {}, bool noByDefault = false) override;
    void addToOpenQuestion(const QString& line) override;

private:
    ScanCollector& m_scans;
    QPointer<QMessageBox> m_question;
};
