#pragma once

// A live camera whose every frame carries its number: the GStreamer element
// "imagemakerstampsrc" (BGRx 64x48 at 30 frames a second, red for camera 0,
// green for camera 1, the frame's number in its first pixel). Numbers go up
// across restarts, so a still shows which frame it was taken from and the
// test knows which frame was on hand when it asked for the still.

#include <QImage>

#include <chrono>
#include <cstdint>
#include <string>

namespace stamped_source {

// Makes the element known to this process; safe to call more than once.
void registerElement();
// A camera source description that uses it.
std::string description(int camera);

struct Frame {
    std::uint32_t number = 0;
    std::chrono::steady_clock::time_point madeAt;
};
// The latest frame that camera's source made.
Frame latest(int camera);
// Waits until the latest frame has had time to reach whoever takes it (made
// a while ago) and the next one is not yet near; returns that frame's number.
std::uint32_t settled(int camera);
// The number a picture taken from such a frame carries.
std::uint32_t numberIn(const QImage& image);

} // namespace stamped_source
