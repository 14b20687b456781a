#pragma once

#include <QLoggingCategory>

// Why a camera failed, for the administrator: warnings are on by default.
Q_DECLARE_LOGGING_CATEGORY(lcCamera)
