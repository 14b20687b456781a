#pragma once

#include <QLoggingCategory>

// What the scanner's keys were taken for, for whoever chases a lost scan.
Q_DECLARE_LOGGING_CATEGORY(lcScan)
