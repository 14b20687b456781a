#pragma once

#include <QRect>
#include <QSize>

namespace camera {

// The largest rectangle of the frame's aspect that fits in area, centred.
// Empty when either size is empty.
QRect fitRect(const QSize& frame, const QRect& area);

} // namespace camera
