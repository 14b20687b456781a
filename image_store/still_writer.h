#pragma once

#include <QImage>
#include <QString>

namespace image_store {

// Where a camera's stills go. write() takes a frame of BGRx pixels
// (QImage::Format_RGB32) for the bitmap a share path names and returns once
// the frame is handed over; the file is put in place later, whole or not at
// all. A path that is not on the share is refused at once.
class StillWriter {
public:
    virtual ~StillWriter() = default;
    virtual void write(const QString& sharePath, const QImage& frame) = 0;
};

} // namespace image_store
