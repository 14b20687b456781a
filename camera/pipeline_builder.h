#pragma once

#include "camera/camera_choice.h"
#include "camera/gst_handles.h"

#include <string>

namespace camera {

// The pipeline of a chosen camera, from its source (a description, or its
// device with the format and controls asked of it) to an appsink named
// CameraPipeline::SinkName that takes BGRx frames. Null, with the reason in
// `why`, when it cannot be built.
gst::ElementHandle buildPipeline(const ChosenCamera& camera, int index, std::string& why);

} // namespace camera
