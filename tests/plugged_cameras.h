#pragma once

// USB cameras a test plugs in and pulls out, offered to GStreamer's device
// monitor by a device provider of the test process. Each streams as a UVC
// camera does (uvc_source.h) through a camera socket (camera_socket.h), so
// pulling it out fails its running pipeline as a camera driver does.

#include "uvc_source.h"

#include <string>

namespace plugged_cameras {

// Makes the provider known to this process; safe to call more than once.
void registerProvider();
// A camera in USB port `port` (as /dev/v4l/by-path names it), showing one
// colour ("red", "blue", "green", "yellow", "white"), in socket `socket` (2
// and up), which offers `modes` and shares the bandwidth of `bus` (none: a
// bus of its own).
void plugIn(const std::string& port, const std::string& serial, const std::string& colour, int socket,
    const std::string& modes = uvc_source::CommonModes, const std::string& bus = {});
void pullOut(const std::string& port);
// Pulls out every camera, quietly: a test's clean start.
void pullOutAll();

} // namespace plugged_cameras
