#pragma once

#include <QIcon>
#include <QString>

// The window's own pictures, shipped with the program as image resources,
// each at two sizes so that it is sharp at a device pixel ratio of 2.
namespace artwork {

// `name`.png and, twice its size, `name`@2x.png.
inline QIcon twoSizes(const QString& name)
{
    QIcon icon(QStringLiteral(":/artwork/") + name + QStringLiteral(".png"));
    icon.addFile(QStringLiteral(":/artwork/") + name + QStringLiteral("@2x.png"));
    return icon;
}

inline constexpr QSize ViewFaceSize { 90, 38 };
inline constexpr QSize BannerSize { 337, 22 };

// A webcam with the words "View" and the view's name ("Color", "Bottom"):
// the face used when the share's software folder has none.
inline QIcon viewButtonFace(const QString& view)
{
    return twoSizes(QStringLiteral("bt_vw_") + view);
}
// A film roll with the words "Take Picture".
inline QIcon captureButtonFace()
{
    return twoSizes(QStringLiteral("take_picture"));
}
// The program's icon, the view button's webcam, at every size it is drawn.
inline QIcon programIcon()
{
    QIcon icon;
    for (const int size : { 16, 24, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/artwork/imagemaker-%1.png").arg(size));
    return icon;
}
// Dark orange with diagonal stripes at the left, fading to light beige.
inline QIcon headerBanner()
{
    return twoSizes(QStringLiteral("header_strip"));
}

} // namespace artwork
