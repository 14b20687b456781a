#include "scan_dialog/window_conventions.h"

#include <QKeyEvent>
#include <QPushButton>

void applyButtonConventions(QWidget* window)
{
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        // Outside a dialog only an auto-default button answers Enter.
        button->setAutoDefault(true);
        button->setDefault(false);
    }
}

bool isKeyRepeat(const QKeyEvent& key)
{
    // Key events arrive on the user-interface thread only.
    static int releasedKey = 0;
    static quint64 releasedAt = 0;
    if (key.isAutoRepeat())
        return true;
    if (key.type() == QEvent::KeyRelease) {
        releasedKey = key.key();
        releasedAt = key.timestamp();
        return false;
    }
    // A timestamp of 0 says nothing: synthesized events carry it.
    return key.type() == QEvent::KeyPress && key.timestamp() != 0 && key.key() == releasedKey
        && key.timestamp() == releasedAt;
}
