#include "image_store/share_log.h"

Q_LOGGING_CATEGORY(lcShare, "imagemaker.share", QtWarningMsg)
