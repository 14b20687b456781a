#include "camera_log.h"

Q_LOGGING_CATEGORY(lcCamera, "imagemaker.camera", QtWarningMsg)
