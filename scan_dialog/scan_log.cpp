#include "scan_dialog/scan_log.h"

Q_LOGGING_CATEGORY(lcScan, "imagemaker.scan", QtWarningMsg)
