#include "camera/frame_image.h"

#include "camera/camera_log.h"

#include <QScopeGuard>

#include <gst/video/video.h>
#include <turbojpeg.h>

#include <memory>

namespace camera {

namespace {

// A frame mapped for as long as a QImage refers to its pixels.
struct MappedFrame {
    gst::SampleHandle sample;
    GstVideoFrame frame;
};

void releaseMappedFrame(void* data)
{
    auto* mapped = static_cast<MappedFrame*>(data);
    gst_video_frame_unmap(&mapped->frame);
    delete mapped;
}

struct DecoderFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};

QImage decodeJpeg(GstBuffer* buffer, QSize atLeast)
{
    // One decoder per thread: the view's and the stills' decode apart.
    thread_local const std::unique_ptr<void, DecoderFree> decoder(tjInitDecompress());
    GstMapInfo map;
    if (!decoder || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return {};
    const auto unmap = qScopeGuard([&] { gst_buffer_unmap(buffer, &map); });
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(decoder.get(), map.data, map.size, &width, &height, &subsampling, &colourspace)
        != 0)
        return {};
    int scaledWidth = width;
    int scaledHeight = height;
    if (atLeast.isValid()) {
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        for (int i = 0; i < count; ++i) {
            // 1/2, 1/4 and 1/8 have the fast scaled transforms.
            if (factors[i].num != 1)
                continue;
            const int w = TJSCALED(width, factors[i]);
            const int h = TJSCALED(height, factors[i]);
            if (w >= atLeast.width() && h >= atLeast.height() && w * h < scaledWidth * scaledHeight) {
                scaledWidth = w;
                scaledHeight = h;
            }
        }
    }
    QImage image(scaledWidth, scaledHeight, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    // BGRX bytes are what QImage calls RGB32 on a little-endian machine.
    if (tjDecompress2(decoder.get(), map.data, map.size, image.bits(), scaledWidth,
            static_cast<int>(image.bytesPerLine()), scaledHeight, TJPF_BGRX,
            atLeast.isValid() ? TJFLAG_FASTDCT : 0)
        != 0) {
        // A warning still leaves a whole picture; an error does not.
        if (tjGetErrorCode(decoder.get()) == TJERR_FATAL) {
            qCWarning(lcCamera, "a camera frame cannot be decoded: %s", tjGetErrorStr2(decoder.get()));
            return {};
        }
    }
    return image;
}

} // namespace

QImage imageOf(const gst::SampleHandle& sample, QSize atLeast)
{
    if (!sample)
        return {};
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    if (caps && buffer && gst_caps_get_size(caps) > 0
        && gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg"))
        return decodeJpeg(buffer, atLeast);
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)
        || GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx)
        return {};
    auto* mapped = new MappedFrame { gst::refSample(sample), {} };
    if (!gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ)) {
        delete mapped;
        return {};
    }
    // BGRx bytes are what QImage calls RGB32 on a little-endian machine.
    return QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped->frame, 0)),
        GST_VIDEO_FRAME_WIDTH(&mapped->frame), GST_VIDEO_FRAME_HEIGHT(&mapped->frame),
        GST_VIDEO_FRAME_PLANE_STRIDE(&mapped->frame, 0), QImage::Format_RGB32, releaseMappedFrame, mapped);
}

} // namespace camera
