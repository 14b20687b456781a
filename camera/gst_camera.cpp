#include "camera/gst_camera.h"

#include "build_config.h"
#include "camera/camera_log.h"
#include "camera/camera_pipeline.h"
#include "camera/frame_image.h"
#include "camera/live_feed.h"
#include "camera/pipeline_builder.h"
#include "image_store/still_writer.h"

#include <QScopeGuard>

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
        m_pipelines[i] = std::make_unique<CameraPipeline>(
            i,
            [this, i] {
                m_feed->frameArrived(i);
                m_wait.wake();
            },
            [this] { m_wait.wake(); });
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

void GstCamera::observeWaits(std::function<void()> started, std::function<void()> ended)
{
    m_wait.observe(std::move(started), std::move(ended));
}

void GstCamera::beginCapture()
{
    m_captureBegan = std::chrono::steady_clock::now();
    for (int i = 0; i < 2; ++i) {
        m_pipelines[i]->mark();
        m_captureMarked[i] = true;
    }
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
        if (!bothStream() && i != live && live >= 0)
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
    // selection, or now when both keep streaming. Nothing waits for it
    // here: a mode the bus refuses is left to the next selection.
    if (m_controlStarted && (index == m_feed->live() || bothStream()))
        startIn(index, modesFor(index).front());
}

std::vector<GstCamera::StartMode> GstCamera::modesFor(int index)
{
    const ChosenCamera& camera = m_choice[index];
    if (!camera.discovered || !camera.format.empty() || !camera.device)
        return { { camera.format } };
    const gst::CapsHandle caps(gst_device_get_caps(camera.device.get()));
    const std::vector<CameraMode> offered = modesOf(caps.get());
    const std::vector<CameraMode> modes = modesToTry(offered);
    if (modes.empty()) {
        qCWarning(lcCamera, "%s offers no mode this program decodes; GStreamer picks one",
            cameraName(index).c_str());
        return { {} };
    }
    // Told once, not at every start of a camera that takes turns.
    if (m_toldChoice[index] != modes.front().caps()) {
        m_toldChoice[index] = modes.front().caps();
        qCInfo(lcCamera, "%s streams %s, chosen among %zu modes", cameraName(index).c_str(),
            modes.front().describe().c_str(), offered.size());
    }
    std::vector<StartMode> toTry;
    for (const CameraMode& mode : modes)
        toTry.push_back({ mode.caps(), mode.fps() });
    return toTry;
}

bool GstCamera::startIn(int index, const StartMode& mode)
{
    CameraPipeline& pipeline = *m_pipelines[index];
    pipeline.stop();
    pipeline.clearFailure();
    m_rate[index] = mode.fps;
    ChosenCamera camera = m_choice[index];
    camera.format = mode.format;
    std::string why;
    gst::ElementHandle built = buildPipeline(camera, index, why);
    if (!built) {
        pipeline.fail(why);
        return false;
    }
    return pipeline.start(std::move(built), camera.source.warmupFrames);
}

std::chrono::milliseconds GstCamera::startBound(int index) const
{
    // Where the rate is not known, that of the slowest camera on a bench.
    constexpr double SlowestFps = 5.0;
    const double fps = m_rate[index] > 0 ? m_rate[index] : SlowestFps;
    const int warmup = m_choice[index].source.warmupFrames;
    return m_timeouts.select + std::chrono::milliseconds(static_cast<long long>(warmup * 1000.0 / fps));
}

bool GstCamera::awaitDelivering(int index)
{
    CameraPipeline& pipeline = *m_pipelines[index];
    m_wait.until([&] { return pipeline.delivering() || !pipeline.healthy(); }, startBound(index));
    return pipeline.delivering();
}

bool GstCamera::start(int index)
{
    const std::vector<StartMode> modes = modesFor(index);
    CameraPipeline& pipeline = *m_pipelines[index];
    for (std::size_t at = 0; at < modes.size(); ++at) {
        if (startIn(index, modes[at]) && awaitDelivering(index))
            return true;
        if (!pipeline.failedForBandwidth())
            return false;
        if (at + 1 < modes.size())
            qCWarning(lcCamera, "%s: the USB bus has no room for %s; trying %s", cameraName(index).c_str(),
                modes[at].format.c_str(), modes[at + 1].format.c_str());
    }
    if (m_turns || !m_pipelines[1 - index]->running())
        return false;
    // Alone on the bus, each fits: the live one streams, and each switch
    // starts the other.
    qCWarning(lcCamera,
        "the USB bus cannot carry both cameras' streams, so they take turns and every switch between them "
        "waits for a camera to start; plug the cameras into different USB ports or controllers");
    m_turns = true;
    m_pipelines[1 - index]->stop();
    return startIn(index, modes.front()) && awaitDelivering(index);
}

std::int32_t GstCamera::selectCamera(std::int32_t index)
{
    if (index < 0 || index > 1)
        return 0;
    CameraPipeline& pipeline = *m_pipelines[index];
    m_feed->setLive(index);
    if (!bothStream())
        m_pipelines[1 - index]->stop();
    const bool delivering = pipeline.healthy() ? awaitDelivering(index) : start(index);
    if (!delivering) {
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
    // Only a frame that arrives after the capture began is the camera's
    // current picture; anything older may show the sample before it was
    // placed. On its own, a still begins its own capture.
    const bool captureMarked = std::exchange(m_captureMarked[live], false)
        && std::chrono::steady_clock::now() - m_captureBegan < m_timeouts.still;
    if (!captureMarked)
        pipeline.mark();
    const auto unmark = qScopeGuard([&] { pipeline.unmark(); });
    m_wait.until([&] { return !pipeline.healthy() || pipeline.firstSinceMark(); }, m_timeouts.still);
    if (!pipeline.healthy())
        throw CameraError("SaveStill: " + cameraName(live) + " failed: "
            + (pipeline.failure().empty() ? std::string("it was stopped") : pipeline.failure()));
    const gst::SampleHandle awaited = pipeline.firstSinceMark();
    if (!awaited)
        throw CameraError("SaveStill: " + cameraName(live) + " delivered no picture within "
            + std::to_string(m_timeouts.still.count()) + " ms");
    const QImage frame = imageOf(awaited);
    if (frame.isNull())
        throw CameraError("SaveStill: " + cameraName(live) + " delivered a picture that cannot be read");
    return frame;
}

} // namespace camera
