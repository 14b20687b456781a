#include "camera/frame_geometry.h"

namespace camera {

QRect fitRect(const QSize& frame, const QRect& area)
{
    if (frame.isEmpty() || area.isEmpty())
        return {};
    const QSize scaled = frame.scaled(area.size(), Qt::KeepAspectRatio);
    const int x = area.x() + (area.width() - scaled.width()) / 2;
    const int y = area.y() + (area.height() - scaled.height()) / 2;
    return QRect(QPoint(x, y), scaled);
}

} // namespace camera
