#include "capture_window/window_log.h"

Q_LOGGING_CATEGORY(lcWindow, "imagemaker.window", QtWarningMsg)
