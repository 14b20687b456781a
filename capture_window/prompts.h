#pragma once

#include <QString>

class QWidget;

inline const QString ApplicationTitle = QStringLiteral("ImageMaker");

// Modal message boxes. An empty title shows the application's own.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void showMessage(QWidget* parent, const QString& text, const QString& title = {}) = 0;
    // Yes is the default answer, so Enter answers Yes.
    virtual bool askYesNo(QWidget* parent, const QString& text, const QString& title = {}) = 0;
};

// The real boxes: no icon, OK or Yes/No. A Yes/No box has no way out but its
// two buttons; Escape and the close control do nothing there. The focus goes
// back to the control that had it when the box closes.
class MessageBoxPrompts final : public Prompts {
public:
    void showMessage(QWidget* parent, const QString& text, const QString& title = {}) override;
    bool askYesNo(QWidget* parent, const QString& text, const QString& title = {}) override;
};
