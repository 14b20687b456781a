#include "camera/mode_policy.h"

#include <gst/gst.h>

#include <algorithm>
#include <tuple>

namespace camera {

namespace {

constexpr int LargestCompressedWidth = 1920;
constexpr int LargestCompressedHeight = 1080;
constexpr double SmoothCompressedFps = 25.0;
constexpr double SmoothRawFps = 15.0;
constexpr int SmallestWidth = 640;
constexpr int SmallestHeight = 480;

// The largest int a field allows: a fixed value, a range or a list.
int largestInt(const GValue* value)
{
    if (!value)
        return 0;
    if (G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value);
    if (GST_VALUE_HOLDS_INT_RANGE(value))
        return gst_value_get_int_range_max(value);
    int largest = 0;
    if (GST_VALUE_HOLDS_LIST(value))
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            largest = std::max(largest, largestInt(gst_value_list_get_value(value, i)));
    return largest;
}

// The fastest rate a field allows, as numerator and denominator.
std::pair<int, int> fastestRate(const GValue* value)
{
    if (!value)
        return { 0, 1 };
    if (GST_VALUE_HOLDS_FRACTION(value))
        return { gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value) };
    if (GST_VALUE_HOLDS_FRACTION_RANGE(value))
        return fastestRate(gst_value_get_fraction_range_max(value));
    std::pair<int, int> fastest { 0, 1 };
    if (GST_VALUE_HOLDS_LIST(value))
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const auto rate = fastestRate(gst_value_list_get_value(value, i));
            if (rate.second > 0 && double(rate.first) / rate.second > double(fastest.first) / fastest.second)
                fastest = rate;
        }
    return fastest;
}

// Larger first; at one size, faster first.
bool better(const CameraMode& a, const CameraMode& b)
{
    return a.area() != b.area() ? a.area() > b.area() : a.fps() > b.fps();
}

const CameraMode* best(const std::vector<CameraMode>& modes, auto&& acceptable)
{
    const CameraMode* chosen = nullptr;
    for (const CameraMode& mode : modes)
        if (acceptable(mode) && (!chosen || better(mode, *chosen)))
            chosen = &mode;
    return chosen;
}

} // namespace

std::string CameraMode::caps() const
{
    std::string text = media;
    if (!format.empty())
        text += ",format=" + format;
    return text + ",width=" + std::to_string(width) + ",height=" + std::to_string(height)
        + ",framerate=" + std::to_string(rateNumerator) + "/" + std::to_string(rateDenominator);
}

std::string CameraMode::describe() const
{
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", fps());
    return media + (format.empty() ? "" : "/" + format) + " " + std::to_string(width) + "x"
        + std::to_string(height) + " at " + rate + " fps";
}

std::vector<CameraMode> modesOf(const GstCaps* caps)
{
    std::vector<CameraMode> modes;
    for (guint i = 0; caps && i < gst_caps_get_size(caps); ++i) {
        const GstStructure* structure = gst_caps_get_structure(caps, i);
        CameraMode mode;
        mode.media = gst_structure_get_name(structure);
        if (mode.media != "image/jpeg" && mode.media != "video/x-raw")
            continue;
        if (!mode.compressed()) {
            const gchar* format = gst_structure_get_string(structure, "format");
            if (!format)
                continue; // a list of formats: nothing a camera offers
            mode.format = format;
        }
        mode.width = largestInt(gst_structure_get_value(structure, "width"));
        mode.height = largestInt(gst_structure_get_value(structure, "height"));
        std::tie(mode.rateNumerator, mode.rateDenominator)
            = fastestRate(gst_structure_get_value(structure, "framerate"));
        if (mode.width <= 0 || mode.height <= 0 || mode.rateDenominator <= 0)
            continue;
        const auto same = std::find_if(modes.begin(), modes.end(), [&](const CameraMode& m) {
            return m.media == mode.media && m.format == mode.format && m.width == mode.width
                && m.height == mode.height;
        });
        if (same == modes.end())
            modes.push_back(mode);
        else if (mode.fps() > same->fps())
            *same = mode;
    }
    return modes;
}

std::vector<CameraMode> modesToTry(const std::vector<CameraMode>& offered)
{
    const auto fitsCompressed = [](const CameraMode& m) {
        return m.compressed() && m.width <= LargestCompressedWidth && m.height <= LargestCompressedHeight;
    };
    const CameraMode* chosen = best(
        offered, [&](const CameraMode& m) { return fitsCompressed(m) && m.fps() >= SmoothCompressedFps; });
    if (!chosen)
        chosen
            = best(offered, [](const CameraMode& m) { return !m.compressed() && m.fps() >= SmoothRawFps; });
    if (!chosen)
        chosen = best(offered, [](const CameraMode&) { return true; });
    if (!chosen)
        return {};

    std::vector<CameraMode> modes { *chosen };
    std::vector<CameraMode> smaller;
    for (const CameraMode& mode : offered)
        if (fitsCompressed(mode) && mode.fps() >= SmoothCompressedFps && mode.area() < chosen->area()
            && mode.width >= SmallestWidth && mode.height >= SmallestHeight)
            smaller.push_back(mode);
    std::sort(smaller.begin(), smaller.end(), better);
    modes.insert(modes.end(), smaller.begin(), smaller.end());
    return modes;
}

} // namespace camera
