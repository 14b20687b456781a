#include "camera/frame_image.h"

#include <gst/video/video.h>

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

} // namespace

QImage imageOf(const gst::SampleHandle& sample)
{
    if (!sample)
        return {};
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
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
