#pragma once

class QWidget;

// Both windows follow the same keyboard rules: Enter and Space press the
// button that has the focus, and no button is a default or cancel button, so
// Escape does nothing. Alt plus the underlined letter of a caption presses
// that button (Qt's own mnemonics).
void applyButtonConventions(QWidget* window);

class QKeyEvent;

// Whether a key event repeats a key held down. Qt flags most repeats; the
// one X sends as the key goes up comes as a release and a press with one
// timestamp, unflagged.
bool isKeyRepeat(const QKeyEvent& key);
