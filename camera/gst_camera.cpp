#include "camera/gst_camera.h"

#include "build_config.h"
#include "camera/camera_log.h"
#include "camera/camera_pipeline.h"
#include "camera/frame_image.h"
#include "camera/live_feed.h"
#include "camera/pipeline_builder.h"
#include "image_store/still_writer.h"

namespace camera {

GstCamera::GstCamera(
    std::array<CameraSource, 2> sources, image_store::StillWriter& stills, CameraTimeouts timeouts)
    : m_stills(stills)
    , m_timeouts(timeouts)
    , m_choice(std::move(sources))
{
    gst::ensureInitialised();
    m_feed = std::make_unique<LiveFeed>([this](int index) { return m_pipelines[index]->latest(); });
    for (int i = 0; i < 2; ++i)
        m_pipelines[i] = std::make_unique<CameraPipeline>(i, [this, i] { m_feed->frameArrived(i); });
}

// The pipelines, declared last, stop their streaming threads first.
GstCamera::~GstCamera() = default;

std::array<CameraSource, 2> GstCamera::buildSources()
{
    return { CameraSource {
                 std::string(buildconfig::BottomCameraSource), buildconfig::BottomCameraWarmupFrames },
        CameraSource { std::string(buildconfig::ColorCameraSource), buildconfig::ColorCameraWarmupFrames } };
}

void GstCamera::attachView(LiveView* view)
{
    m_feed->attach(view);
}

void GstCamera::initializeControl(
    const QString& applicationName, const QString& settingsKey, std::int32_t flags)
{
    if (applicationName.isEmpty())
        throw CameraError("InitializeControl: the application name is empty");
    if (settingsKey.isEmpty())
        throw CameraError("InitializeControl: the settings key is empty");
    if (flags != 0)
        throw CameraError("InitializeControl: flags " + std::to_string(flags) + " are not supported");
    m_choice.choose(settingsKey, [this](int index, bool pluggedIn) { cameraChanged(index, pluggedIn); });
}

void GstCamera::setStartupOptions(std::int32_t mirror, std::int32_t stretch, std::int32_t keepStreaming)
{
    m_feed->setOptions(mirror != 0, stretch != 0);
    m_keepStreaming = keepStreaming != 0;
}

std::int32_t GstCamera::startControl()
{
    m_controlStarted = true;
    const int live = m_feed->live();
    std::int32_t started = 0;
    for (int i = 0; i < 2; ++i) {
        if (!m_keepStreaming && i != live && live >= 0)
            continue;
        if (start(i))
            ++started;
    }
    return started;
}

void GstCamera::setStartupSwitch(std::int32_t value)
{
    m_feed->setEnabled(value != 0);
}

void GstCamera::cameraChanged(int index, bool pluggedIn)
{
    CameraPipeline& pipeline = *m_pipelines[index];
    if (!pluggedIn) {
        pipeline.fail("the camera was unplugged");
        pipeline.stop();
        return;
    }
    // The live camera comes back by itself; the other at its next
    // selection, or now when both keep streaming.
    if (m_controlStarted && (index == m_feed->live() || m_keepStreaming))
        start(index);
}

bool GstCamera::start(int index)
{
    CameraPipeline& pipeline = *m_pipelines[index];
    pipeline.stop();
    pipeline.clearFailure();
    std::string why;
    gst::ElementHandle built = buildPipeline(m_choice[index], index, why);
    if (!built) {
        pipeline.fail(why);
        return false;
    }
    return pipeline.start(std::move(built), m_choice[index].source.warmupFrames);
}

std::int32_t GstCamera::selectCamera(std::int32_t index)
{
    if (index < 0 || index > 1)
        return 0;
    CameraPipeline& pipeline = *m_pipelines[index];
    const bool healthy = pipeline.healthy();
    m_feed->setLive(index);
    if (!m_keepStreaming)
        m_pipelines[1 - index]->stop();
    if (!healthy && !start(index))
        return 0;
    if (!pipeline.waitUntilDelivering(m_timeouts.select)) {
        pipeline.fail(cameraName(index) + " delivered no picture");
        pipeline.stop();
        return 0;
    }
    m_feed->present();
    return 1;
}

void GstCamera::saveStill(
    std::int32_t compression, std::int32_t bitsPerPixel, const QString& path, const QString& note)
{
    Q_UNUSED(note);
    if (compression != 0)
        throw CameraError("SaveStill: compression " + std::to_string(compression)
            + " is not supported; 0 writes an uncompressed bitmap");
    if (bitsPerPixel != 24)
        throw CameraError("SaveStill: " + std::to_string(bitsPerPixel)
            + " bits per pixel are not supported; bitmaps have 24");
    // The writer has the frame straight from the camera: no copy in between,
    // and the next camera's frame wait overlaps its write.
    m_stills.write(path, freshFrameOfLiveCamera());
}

QImage GstCamera::freshFrameOfLiveCamera()
{
    const int live = m_feed->live();
    if (live < 0)
        throw CameraError("SaveStill: no camera has been selected");
    CameraPipeline& pipeline = *m_pipelines[live];
    if (!pipeline.running())
        throw CameraError("SaveStill: " + cameraName(live) + " cannot be reached");
    // Only a frame that arrives after this call began is the camera's current
    // picture; anything older may show the sample before it was placed.
    const CameraPipeline::Awaited awaited = pipeline.nextFrame(m_timeouts.still);
    if (awaited.failed)
        throw CameraError("SaveStill: " + cameraName(live) + " failed: " + pipeline.failure());
    if (!awaited.frame)
        throw CameraError("SaveStill: " + cameraName(live) + " delivered no picture within "
            + std::to_string(m_timeouts.still.count()) + " ms");
    const QImage frame = imageOf(awaited.frame);
    if (frame.isNull())
        throw CameraError("SaveStill: " + cameraName(live) + " delivered a picture that cannot be read");
    return frame;
}

} // namespace camera
