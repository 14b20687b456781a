#pragma once

#include "camera/camera_choice.h"
#include "camera/gst_handles.h"

#include <string>

namespace camera {

// The pipeline of a chosen camera, from its source (a description, or its
// device with the format and controls asked of it) to an appsink named
// CameraPipeline::SinkName that takes BGRx frames, or a camera's MJPEG
// frames undecoded: only the ones someone looks at are decoded
// (frame_image.h). Null, with the reason in `why`, when it cannot be built.
gst::ElementHandle buildPipeline(const ChosenCamera& camera, int index, std::string& why);

} // namespace camera
