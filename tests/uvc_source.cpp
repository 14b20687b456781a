#include "uvc_source.h"

#include "frame_pacer.h"

#include <gst/base/gstpushsrc.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace uvc_source {
namespace {

constexpr int Cameras = 8;
constexpr int StampBits = 32; // 24 of the number, 8 of the camera

std::mutex registryMutex;
std::array<std::uint32_t, Cameras> made {};
struct Bus {
    long long budget = 0;
    long long used = 0;
};
std::map<std::string, Bus> buses;

int blockOf(int width)
{
    return std::max(8, width / 64);
}

enum Prop { PropCamera = 1, PropColour, PropModes, PropBus, PropFrames };

struct UvcSrc {
    GstPushSrc parent;
    int camera;
    guint colour; // 0xRRGGBB
    GstCaps* modes;
    char* bus;
    // Negotiated
    bool compressed;
    int width, height;
    gint64 periodUs;
    long long reserved;
    FramePacer pacer;
    tjhandle encoder;
    std::vector<unsigned char>* rgb;
    // Frames encoded beforehand, sent in turn instead of painted ones.
    char* frames;
    std::vector<GBytes*>* loaded;
    std::size_t next;
};
struct UvcSrcClass {
    GstPushSrcClass parent;
};

G_DEFINE_TYPE(UvcSrc, uvc_src, GST_TYPE_PUSH_SRC)

UvcSrc* self(gpointer object)
{
    return reinterpret_cast<UvcSrc*>(object);
}

void uvc_src_init(UvcSrc* src)
{
    src->pacer.init();
    src->modes = gst_caps_from_string(CommonModes);
    src->rgb = new std::vector<unsigned char>;
    src->loaded = new std::vector<GBytes*>;
    gst_base_src_set_live(GST_BASE_SRC(src), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(src), GST_FORMAT_TIME);
    gst_base_src_set_do_timestamp(GST_BASE_SRC(src), TRUE);
}

void release(UvcSrc* src)
{
    if (src->reserved == 0 || !src->bus)
        return;
    std::lock_guard lock(registryMutex);
    buses[src->bus].used -= src->reserved;
    src->reserved = 0;
}

void finalize(GObject* object)
{
    UvcSrc* src = self(object);
    release(src);
    gst_caps_unref(src->modes);
    g_free(src->bus);
    delete src->rgb;
    for (GBytes* bytes : *src->loaded)
        g_bytes_unref(bytes);
    delete src->loaded;
    g_free(src->frames);
    if (src->encoder)
        tjDestroy(src->encoder);
    src->pacer.clear();
    G_OBJECT_CLASS(uvc_src_parent_class)->finalize(object);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* param)
{
    UvcSrc* src = self(object);
    switch (id) {
    case PropCamera:
        src->camera = g_value_get_int(value);
        break;
    case PropColour:
        src->colour = g_value_get_uint(value);
        break;
    case PropModes:
        gst_caps_unref(src->modes);
        src->modes = gst_caps_from_string(g_value_get_string(value));
        break;
    case PropBus:
        g_free(src->bus);
        src->bus = g_value_dup_string(value);
        break;
    case PropFrames:
        g_free(src->frames);
        src->frames = g_value_dup_string(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* param)
{
    UvcSrc* src = self(object);
    switch (id) {
    case PropCamera:
        g_value_set_int(value, src->camera);
        break;
    case PropColour:
        g_value_set_uint(value, src->colour);
        break;
    case PropModes: {
        gchar* text = gst_caps_to_string(src->modes);
        g_value_take_string(value, text);
        break;
    }
    case PropBus:
        g_value_set_string(value, src->bus);
        break;
    case PropFrames:
        g_value_set_string(value, src->frames);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
}

GstCaps* getCaps(GstBaseSrc* base, GstCaps* filter)
{
    GstCaps* modes = gst_caps_ref(self(base)->modes);
    if (!filter)
        return modes;
    GstCaps* both = gst_caps_intersect_full(filter, modes, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(modes);
    return both;
}

gboolean setCaps(GstBaseSrc* base, GstCaps* caps)
{
    UvcSrc* src = self(base);
    const GstStructure* mode = gst_caps_get_structure(caps, 0);
    int rateN = 0;
    int rateD = 1;
    if (!gst_structure_get_int(mode, "width", &src->width)
        || !gst_structure_get_int(mode, "height", &src->height)
        || !gst_structure_get_fraction(mode, "framerate", &rateN, &rateD) || rateN <= 0)
        return FALSE;
    src->compressed = gst_structure_has_name(mode, "image/jpeg");
    src->periodUs = gint64(1000000) * rateD / rateN;
    return TRUE;
}

// Stream-on: the bus gives the mode's bandwidth or refuses it, and
// v4l2src says so in these words.
gboolean decideAllocation(GstBaseSrc* base, GstQuery* query)
{
    UvcSrc* src = self(base);
    if (src->bus && src->reserved == 0) {
        const long long need
            = bandwidthOf(src->compressed, src->width, src->height, 1000000.0 / double(src->periodUs));
        std::lock_guard lock(registryMutex);
        Bus& bus = buses[src->bus];
        if (bus.budget > 0 && bus.used + need > bus.budget) {
            GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS, ("Failed to allocate required memory."),
                ("Buffer pool activation failed: error with STREAMON 28 (No space left on device)"));
            return FALSE;
        }
        bus.used += need;
        src->reserved = need;
    }
    return GST_BASE_SRC_CLASS(uvc_src_parent_class)->decide_allocation(base, query);
}

gboolean stop(GstBaseSrc* base)
{
    release(self(base));
    return TRUE;
}

std::uint32_t nextNumber(int camera)
{
    std::lock_guard lock(registryMutex);
    return ++made[camera];
}

// The frame in RGB: its colour, and the stamp's bits as black or white
// blocks along the top row.
void paint(UvcSrc* src, std::uint32_t number)
{
    std::vector<unsigned char>& rgb = *src->rgb;
    rgb.resize(std::size_t(src->width) * src->height * 3);
    const unsigned char r = src->colour >> 16, g = (src->colour >> 8) & 0xff, b = src->colour & 0xff;
    for (std::size_t at = 0; at < rgb.size(); at += 3) {
        rgb[at] = r;
        rgb[at + 1] = g;
        rgb[at + 2] = b;
    }
    const std::uint32_t stamp = (number & 0xffffff) | std::uint32_t(src->camera) << 24;
    const int block = blockOf(src->width);
    for (int bit = 0; bit < StampBits; ++bit) {
        const unsigned char level = (stamp >> bit) & 1 ? 255 : 0;
        for (int y = 0; y < block; ++y)
            std::memset(&rgb[(std::size_t(y) * src->width + std::size_t(bit) * block) * 3], level,
                std::size_t(block) * 3);
    }
}

GstBuffer* yuy2(UvcSrc* src)
{
    const std::vector<unsigned char>& rgb = *src->rgb;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, gsize(src->width) * src->height * 2, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    for (std::size_t pixel = 0; pixel + 1 < std::size_t(src->width) * src->height; pixel += 2) {
        const unsigned char* p = &rgb[pixel * 3];
        const auto luma = [](const unsigned char* c) {
            return guint8(std::clamp(16 + (66 * c[0] + 129 * c[1] + 25 * c[2] + 128) / 256, 0, 255));
        };
        map.data[pixel * 2] = luma(p);
        map.data[pixel * 2 + 1]
            = guint8(std::clamp(128 + (-38 * p[0] - 74 * p[1] + 112 * p[2] + 128) / 256, 0, 255));
        map.data[pixel * 2 + 2] = luma(p + 3);
        map.data[pixel * 2 + 3]
            = guint8(std::clamp(128 + (112 * p[0] - 94 * p[1] - 18 * p[2] + 128) / 256, 0, 255));
    }
    gst_buffer_unmap(buffer, &map);
    return buffer;
}

GstBuffer* jpeg(UvcSrc* src)
{
    if (!src->encoder)
        src->encoder = tjInitCompress();
    unsigned char* data = nullptr;
    unsigned long size = 0;
    if (tjCompress2(src->encoder, src->rgb->data(), src->width, 0, src->height, TJPF_RGB, &data, &size,
            TJSAMP_422, 85, TJFLAG_FASTDCT)
        != 0)
        return nullptr;
    GstBuffer* buffer = gst_buffer_new_memdup(data, size);
    tjFree(data);
    return buffer;
}

GstFlowReturn create(GstPushSrc* push, GstBuffer** out)
{
    UvcSrc* src = self(push);
    if (!src->pacer.waitForNext(src->periodUs))
        return GST_FLOW_FLUSHING;
    if (src->frames && src->compressed) {
        if (src->loaded->empty()) {
            // "folder/name-%02d.jpg": files numbered from 0 up to the first missing one.
            for (int n = 0;; ++n) {
                gchar* path = g_strdup_printf(src->frames, n);
                gchar* data = nullptr;
                gsize size = 0;
                const bool read = g_file_get_contents(path, &data, &size, nullptr);
                g_free(path);
                if (!read)
                    break;
                src->loaded->push_back(g_bytes_new_take(data, size));
            }
            if (src->loaded->empty()) {
                GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("No frames at %s", src->frames), (nullptr));
                return GST_FLOW_ERROR;
            }
        }
        nextNumber(src->camera);
        *out = gst_buffer_new_wrapped_bytes((*src->loaded)[src->next++ % src->loaded->size()]);
        return GST_FLOW_OK;
    }
    paint(src, nextNumber(src->camera));
    *out = src->compressed ? jpeg(src) : yuy2(src);
    return *out ? GST_FLOW_OK : GST_FLOW_ERROR;
}

void uvc_src_class_init(UvcSrcClass* klass)
{
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->finalize = finalize;
    object->set_property = setProperty;
    object->get_property = getProperty;
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        object, PropCamera, g_param_spec_int("camera", "Camera", "Its socket", 0, Cameras - 1, 0, flags));
    g_object_class_install_property(
        object, PropColour, g_param_spec_uint("colour", "Colour", "0xRRGGBB", 0, 0xffffff, 0x808080, flags));
    g_object_class_install_property(
        object, PropModes, g_param_spec_string("modes", "Modes", "Caps it offers", CommonModes, flags));
    g_object_class_install_property(
        object, PropBus, g_param_spec_string("bus", "Bus", "The USB bus it shares", nullptr, flags));
    g_object_class_install_property(object, PropFrames,
        g_param_spec_string(
            "frames", "Frames", "JPEG files to send in turn (a printf pattern)", nullptr, flags));

    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        element, "UVC-like test camera", "Source/Video", "Streams as a USB camera does", "ImageMaker");
    static GstStaticPadTemplate source = GST_STATIC_PAD_TEMPLATE(
        "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw,format=YUY2; image/jpeg"));
    gst_element_class_add_static_pad_template(element, &source);

    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    base->get_caps = getCaps;
    base->set_caps = setCaps;
    base->decide_allocation = decideAllocation;
    base->stop = stop;
    pacedBy<UvcSrc>(base);
    GST_PUSH_SRC_CLASS(klass)->create = create;
}

} // namespace

void registerElement()
{
    gst_init(nullptr, nullptr);
    if (!gst_element_register(nullptr, "imagemakeruvcsrc", GST_RANK_NONE, uvc_src_get_type()))
        throw std::runtime_error("cannot register imagemakeruvcsrc");
}

void setBusBudget(const std::string& bus, long long bytesPerSecond)
{
    std::lock_guard lock(registryMutex);
    buses[bus].budget = bytesPerSecond;
}

long long bandwidthOf(bool compressed, int width, int height, double fps)
{
    const double raw = double(width) * height * 2 * fps;
    return static_cast<long long>(compressed ? raw / 8 : raw);
}

Stamp stampIn(const QImage& image)
{
    if (image.isNull() || image.width() < StampBits * blockOf(image.width()))
        return {};
    const int block = blockOf(image.width());
    std::uint32_t stamp = 0;
    for (int bit = 0; bit < StampBits; ++bit) {
        const QRgb pixel = image.pixel(bit * block + block / 2, block / 2);
        if (qGray(pixel) > 128)
            stamp |= 1u << bit;
    }
    return { int(stamp >> 24), stamp & 0xffffff };
}

std::uint32_t latest(int camera)
{
    std::lock_guard lock(registryMutex);
    return made[camera];
}

} // namespace uvc_source
