#pragma once

#include <QImage>
#include <QString>

// The window's own pictures, drawn rather than shipped as files.
namespace artwork {

inline constexpr QSize ViewFaceSize { 90, 38 };
inline constexpr QSize CaptureFaceSize { 132, 45 };
inline constexpr QSize BannerSize { 337, 22 };

// A webcam with the words "View" and the view's name ("Color", "Bottom").
QImage viewButtonFace(const QString& view);
// A film roll with the words "Take Picture".
QImage captureButtonFace();
// Dark orange with diagonal stripes at the left, fading to light beige.
QImage headerBanner();

} // namespace artwork
