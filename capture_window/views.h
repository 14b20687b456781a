#pragma once

// The two views the window shows and captures, as data: the name that
// CurrentView holds and the button faces are called after, where the view's
// files go, which camera shows it and what the window says of it.

#include "image_store/image_store.h"

#include <QString>
#include <array>
#include <QtGlobal>

namespace views {

constexpr qint16 ColorCamIndex = 1;
constexpr qint16 BottomCamIndex = 0;

struct View {
    QString name;
    QString filePrefix;
    qint16 cameraIndex;
    // lbl_view while the view is live.
    QString caption;
    // What a screen reader says of its camera.
    QString spokenCamera;
};

const View& color();
const View& bottom();
// Exactly "Bottom" is the bottom view; anything else counts as the colour view.
const View& named(const QString& name);
const View& other(const View& view);
// The view whose files carry this prefix.
const View& ofPrefix(const QString& filePrefix);
// Both, by camera index: bottom, then colour.
std::array<const View*, 2> all();

} // namespace views
