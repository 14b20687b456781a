#include "scan_dialog/window_conventions.h"

#include <QPushButton>

void applyButtonConventions(QWidget* window)
{
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        // Outside a dialog only an auto-default button answers Enter.
        button->setAutoDefault(true);
        button->setDefault(false);
    }
}
