#pragma once

#include "camera/gst_handles.h"

#include <QImage>

namespace camera {

// The pixels of a sample as an image. A BGRx sample is not copied: it stays
// mapped for as long as the image, or a copy of it, is kept. A JPEG sample
// (a camera's MJPEG frame) is decoded, at full size unless `atLeast` asks
// for less: then at the smallest scale the decoder reaches in the DCT
// (1/2, 1/4, 1/8) that still covers it, far cheaper than decoding whole.
// A null image for anything else, or a JPEG that cannot be decoded.
QImage imageOf(const gst::SampleHandle& sample, QSize atLeast = {});

} // namespace camera
