#pragma once

#include <QLoggingCategory>

// What failed on the share or in a process started there, for the administrator.
Q_DECLARE_LOGGING_CATEGORY(lcShare)
