#include "camera/camera_log.h"

Q_LOGGING_CATEGORY(lcCamera, "imagemaker.camera", QtWarningMsg)

namespace camera {

std::string cameraName(int index)
{
    return "camera " + std::to_string(index) + (index == 0 ? " (bottom)" : " (colour)");
}

} // namespace camera
