#include "capture_window/views.h"

namespace views {

const View& color()
{
    static const View view { QStringLiteral("Color"), image_store::ColorPrefix, ColorCamIndex,
        QStringLiteral("Color View"), QStringLiteral("colour camera") };
    return view;
}

const View& bottom()
{
    static const View view { QStringLiteral("Bottom"), image_store::BottomPrefix, BottomCamIndex,
        QStringLiteral("Bottom View"), QStringLiteral("bottom camera") };
    return view;
}

const View& named(const QString& name)
{
    return name == bottom().name ? bottom() : color();
}

const View& other(const View& view)
{
    return &view == &bottom() ? color() : bottom();
}

const View& ofPrefix(const QString& filePrefix)
{
    return filePrefix == bottom().filePrefix ? bottom() : color();
}

std::array<const View*, 2> all()
{
    return { &bottom(), &color() };
}

} // namespace views
