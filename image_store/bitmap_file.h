#pragma once

#include <QByteArray>
#include <QImage>

namespace image_store {

// A 24-bit bottom-up bitmap of a frame of BGRx pixels (QImage::Format_RGB32),
// built in one pass.
QByteArray encodeBitmap(const QImage& frame);

} // namespace image_store
