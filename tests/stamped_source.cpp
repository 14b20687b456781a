#include "stamped_source.h"

#include "camera_property.h"
#include "frame_pacer.h"

#include <gst/base/gstpushsrc.h>

#include <array>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace stamped_source {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int Width = 64;
constexpr int Height = 48;
constexpr gint64 FramePeriodUs = 1000000 / 30;
// Far longer than a 64x48 frame takes to reach the camera's sink, far
// shorter than the period.
constexpr auto Reached = std::chrono::milliseconds(12);
constexpr auto Near = std::chrono::milliseconds(24);

std::mutex registryMutex;
std::array<Frame, 2> made;

std::uint32_t nextFrame(int camera)
{
    std::lock_guard lock(registryMutex);
    made[camera].number += 1;
    made[camera].madeAt = Clock::now();
    return made[camera].number;
}

struct StampSrc {
    GstPushSrc parent;
    int camera;
    FramePacer pacer;
};
struct StampSrcClass {
    GstPushSrcClass parent;
};

G_DEFINE_TYPE(StampSrc, stamp_src, GST_TYPE_PUSH_SRC)

constexpr auto self = instanceOf<StampSrc>;

void stamp_src_init(StampSrc* src)
{
    src->pacer.init();
    gst_base_src_set_live(GST_BASE_SRC(src), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(src), GST_FORMAT_TIME);
    gst_base_src_set_do_timestamp(GST_BASE_SRC(src), TRUE);
    gst_base_src_set_blocksize(GST_BASE_SRC(src), Width * Height * 4);
}

void finalize(GObject* object)
{
    self(object)->pacer.clear();
    G_OBJECT_CLASS(stamp_src_parent_class)->finalize(object);
}

GstFlowReturn fill(GstPushSrc* push, GstBuffer* buffer)
{
    StampSrc* src = self(push);
    if (!src->pacer.waitForNext(FramePeriodUs))
        return GST_FLOW_FLUSHING;

    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE))
        return GST_FLOW_ERROR;
    const guint8 red = src->camera == 0 ? 255 : 0;
    const guint8 green = src->camera == 0 ? 0 : 255;
    for (gsize at = 0; at + 4 <= map.size; at += 4) {
        map.data[at] = 0;
        map.data[at + 1] = green;
        map.data[at + 2] = red;
        map.data[at + 3] = 255;
    }
    const std::uint32_t number = nextFrame(src->camera);
    map.data[0] = number & 0xff;
    map.data[1] = (number >> 8) & 0xff;
    map.data[2] = (number >> 16) & 0xff;
    gst_buffer_unmap(buffer, &map);
    return GST_FLOW_OK;
}

void stamp_src_class_init(StampSrcClass* klass)
{
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->finalize = finalize;
    installCameraProperty<StampSrc>(object);

    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        element, "Stamped test camera", "Source/Video", "Frames that carry their number", "ImageMaker");
    static GstStaticPadTemplate source = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
        GST_STATIC_CAPS("video/x-raw,format=BGRx,width=64,height=48,framerate=30/1"));
    gst_element_class_add_static_pad_template(element, &source);

    pacedBy<StampSrc>(GST_BASE_SRC_CLASS(klass));
    GST_PUSH_SRC_CLASS(klass)->fill = fill;
}

} // namespace

void registerElement()
{
    gst_init(nullptr, nullptr);
    if (!gst_element_register(nullptr, "imagemakerstampsrc", GST_RANK_NONE, stamp_src_get_type()))
        throw std::runtime_error("cannot register imagemakerstampsrc");
}

std::string description(int camera)
{
    return "imagemakerstampsrc camera=" + std::to_string(camera);
}

Frame latest(int camera)
{
    std::lock_guard lock(registryMutex);
    return made[camera];
}

std::uint32_t settled(int camera)
{
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < giveUp) {
        const Frame frame = latest(camera);
        const auto age = Clock::now() - frame.madeAt;
        if (frame.number > 0 && age >= Reached && age < Near)
            return frame.number;
        std::this_thread::sleep_until(
            frame.madeAt + (age < Reached ? Reached : std::chrono::microseconds(FramePeriodUs) + Reached));
    }
    throw std::runtime_error("the stamped camera makes no frames");
}

std::uint32_t numberIn(const QImage& image)
{
    const QRgb first = image.pixel(0, 0);
    return std::uint32_t(qBlue(first)) | std::uint32_t(qGreen(first)) << 8 | std::uint32_t(qRed(first)) << 16;
}

} // namespace stamped_source
