#pragma once

#include <QString>

namespace camera {

// Writes a 24-bit bottom-up bitmap of a frame of BGRx pixels at a local
// path: built in one pass, written with one write to a temporary beside the
// target (named after it), then renamed into place, so readers see the whole
// file or the earlier one. A link or anything but a regular file under the
// target's name is refused, never written through. No sync: a bitmap lost to
// a power cut right after a capture is taken again. Throws CameraError.
void writeBitmapFile(const QString& localPath, const uchar* bgrx, int width, int height, qsizetype stride);

} // namespace camera
