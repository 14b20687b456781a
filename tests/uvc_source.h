#pragma once

// A source that streams as a USB (UVC) camera does: the GStreamer element
// "imagemakeruvcsrc", which offers a list of modes (raw YUY2 and MJPEG at
// several sizes and rates), streams the one negotiated at its rate, and
// reserves that mode's bandwidth on its USB bus at stream-on, failing as
// v4l2src does when the bus has no room left. Each frame is one colour
// with its camera and number stamped in its top row, in blocks that survive
// JPEG; or, with "frames" set, JPEG files encoded beforehand, sent in turn.

#include <QImage>

#include <cstdint>
#include <string>

namespace uvc_source {

// A camera's modes, as UVC cameras commonly offer them.
inline constexpr const char* CommonModes
    = "video/x-raw,format=YUY2,width=640,height=480,framerate={ 30/1, 15/1 }; "
      "video/x-raw,format=YUY2,width=1280,height=720,framerate=10/1; "
      "image/jpeg,width=640,height=480,framerate={ 30/1, 15/1 }; "
      "image/jpeg,width=1280,height=720,framerate=30/1";

// Makes the element known to this process; safe to call more than once.
void registerElement();
// What a bus carries, in bytes a second; 0 (the default) is no limit.
void setBusBudget(const std::string& bus, long long bytesPerSecond);
// What a mode takes of its bus: raw frames whole, MJPEG an eighth of that.
long long bandwidthOf(bool compressed, int width, int height, double fps);

struct Stamp {
    int camera = -1;
    std::uint32_t number = 0;
};
// The stamp a picture taken from such a frame carries; camera -1 when it
// carries none.
Stamp stampIn(const QImage& image);
// The number of the latest frame camera `camera` made, 0 before any.
std::uint32_t latest(int camera);

} // namespace uvc_source
