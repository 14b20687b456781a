#pragma once

// The socket a test camera sits in: a pass-through GStreamer element,
// "imagemakersocket camera=N", put after a test source. Pulling the camera
// out fails its running pipeline as a camera driver does when its device
// goes, and fails every start until it is plugged in again.

#include <string>

namespace camera_socket {

// 0 and 1 for the two cameras, the rest for cameras a test plugs in.
inline constexpr int Sockets = 8;

// Makes the element known to this process; safe to call more than once.
void registerElement();
// The source, plugged into camera N's socket.
std::string in(const std::string& source, int camera);
void unplug(int camera);
void plugIn(int camera);
// A stalled camera stays plugged in but sends no frames.
void stall(int camera, bool stalled);

} // namespace camera_socket
