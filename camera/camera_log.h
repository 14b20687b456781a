#pragma once

#include <QLoggingCategory>

#include <string>

// Why a camera failed, for the administrator: warnings are on by default.
Q_DECLARE_LOGGING_CATEGORY(lcCamera)

namespace camera {

// "camera 0 (bottom)", "camera 1 (colour)": how the log names a camera.
std::string cameraName(int index);

} // namespace camera
