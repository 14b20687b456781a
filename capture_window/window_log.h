#pragma once

#include <QLoggingCategory>

// What went wrong in the window's handling, for the administrator.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
