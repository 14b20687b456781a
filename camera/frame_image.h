#pragma once

#include "camera/gst_handles.h"

#include <QImage>

namespace camera {

// The pixels of a BGRx sample as an image, without a copy: the sample stays
// mapped for as long as the image, or a copy of it, is kept. A null image
// for anything else.
QImage imageOf(const gst::SampleHandle& sample);

} // namespace camera
