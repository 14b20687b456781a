#pragma once

#include <string>
#include <vector>

typedef struct _GstCaps GstCaps;

namespace camera {

// One way a camera can stream: a compressed (image/jpeg) or raw
// (video/x-raw) format at one size and its fastest rate.
struct CameraMode {
    std::string media; // "image/jpeg" or "video/x-raw"
    std::string format; // the raw pixel format ("YUY2"); empty for image/jpeg
    int width = 0;
    int height = 0;
    int rateNumerator = 0;
    int rateDenominator = 1;

    bool compressed() const { return media == "image/jpeg"; }
    double fps() const { return rateDenominator > 0 ? double(rateNumerator) / rateDenominator : 0.0; }
    long long area() const { return static_cast<long long>(width) * height; }
    // The caps that ask a camera for this mode.
    std::string caps() const;
    // "image/jpeg 1280x720 at 30 fps", as the log and the camera tool say it.
    std::string describe() const;
    bool operator==(const CameraMode&) const = default;
};

// The modes a device offers that can be decoded here, each size of each
// format once, at its fastest rate. Sizes or rates given as ranges count
// as their largest.
std::vector<CameraMode> modesOf(const GstCaps* caps);

// The modes worth starting a camera in, best first; empty when none is
// offered. The first is the choice: a compressed mode at the largest size
// up to 1920x1080 at 25 fps or more, else the largest raw mode at 15 fps or
// more, else the largest. Behind it come the smaller compressed modes down
// to 640x480, for a USB bus too busy to carry the choice.
std::vector<CameraMode> modesToTry(const std::vector<CameraMode>& offered);

} // namespace camera
