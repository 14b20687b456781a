#pragma once

#include <QString>

class QWidget;

inline const QString ApplicationTitle = QStringLiteral("ImageMaker");

// The answer to a Yes/No question. A scan (digits and an Enter) that arrives
// while the question is open answers No and carries its digits, all of them.
struct Answer {
    bool yes = false;
    QString scanned;
};

// Modal message boxes. An empty title shows the application's own.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void showMessage(QWidget* parent, const QString& text, const QString& title = {}) = 0;
    // Yes is the default answer, so Enter answers Yes.
    virtual Answer askYesNo(QWidget* parent, const QString& text, const QString& title = {}) = 0;
};

// The real boxes: no icon, OK or Yes/No. A Yes/No box has no way out but its
// two buttons; Escape and the close control do nothing there, nor does a
// held (auto-repeated) Enter or Space. The focus goes back to the control
// that had it when the box closes.
class MessageBoxPrompts final : public Prompts {
public:
    void showMessage(QWidget* parent, const QString& text, const QString& title = {}) override;
    Answer askYesNo(QWidget* parent, const QString& text, const QString& title = {}) override;
};
