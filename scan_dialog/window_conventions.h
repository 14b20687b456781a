#pragma once

class QWidget;

// Both windows follow the same keyboard rules: Enter and Space press the
// button that has the focus, and no button is a default or cancel button, so
// Escape does nothing. Alt plus the underlined letter of a caption presses
// that button (Qt's own mnemonics).
void applyButtonConventions(QWidget* window);
