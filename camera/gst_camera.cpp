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

void GstCamera::beginCapture()
{
    ++m_busy;
    m_captureBegan = std::chrono::steady_clock::now();
    for (int i = 0; i < 2; ++i) {
        m_pipelines[i]->mark();
        m_captureMarked[i] = true;
    }
}

void GstCamera::endCapture()
{
    if (m_busy > 0)
        --m_busy;
    applyPlugChanges();
}

template <typename Operation> std::int32_t GstCamera::blocking(Operation operation)
{
    const bool wasBlocking = std::exchange(m_blocking, true);
    const auto restore = qScopeGuard([&] { m_blocking = wasBlocking; });
    std::int32_t result = 0;
    std::exception_ptr failure;
    operation([&](std::int32_t answer, std::exception_ptr error) {
        result = answer;
        failure = error;
    });
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

void GstCamera::await(std::function<bool()> done, std::chrono::milliseconds bound, Then then)
{
    if (m_blocking) {
        then(m_wait.until(done, bound));
        return;
    }
    m_wait.when(std::move(done), bound, std::move(then));
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
    return blocking([this](Answer answer) { startControlThen(std::move(answer)); });
}

void GstCamera::startControlLater(Answer answer)
{
    ++m_busy;
    startControlThen([this, answer = std::move(answer)](std::int32_t result, std::exception_ptr error) {
        --m_busy;
        answer(result, error);
        applyPlugChanges();
    });
}

void GstCamera::startControlThen(Answer answer)
{
    m_controlStarted = true;
    startEach(0, 0, std::move(answer));
}

void GstCamera::startEach(int index, std::int32_t started, Answer answer)
{
    // One camera after the other: the second's mode depends on the first's.
    if (index == 2) {
        answer(started, nullptr);
        return;
    }
    const int live = m_feed->live();
    if (!bothStream() && index != live && live >= 0) {
        startEach(index + 1, started, std::move(answer));
        return;
    }
    start(index, [this, index, started, answer = std::move(answer)](bool up) {
        startEach(index + 1, started + (up ? 1 : 0), answer);
    });
}

void GstCamera::setStartupSwitch(std::int32_t value)
{
    m_feed->setEnabled(value != 0);
}

void GstCamera::cameraChanged(int index, bool pluggedIn)
{
    // Never in the middle of a wait or a capture: a restart then would
    // answer it with another stream's frames.
    if (m_busy > 0 || m_wait.waiting()) {
        m_plugChanges.emplace_back(index, pluggedIn);
        return;
    }
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

void GstCamera::applyPlugChanges()
{
    while (m_busy == 0 && !m_wait.waiting() && !m_plugChanges.empty()) {
        const auto [index, pluggedIn] = m_plugChanges.front();
        m_plugChanges.erase(m_plugChanges.begin());
        cameraChanged(index, pluggedIn);
    }
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

void GstCamera::awaitDelivering(int index, Then then)
{
    CameraPipeline& pipeline = *m_pipelines[index];
    await([&pipeline] { return pipeline.delivering() || !pipeline.healthy(); }, startBound(index),
        [&pipeline, then = std::move(then)](bool) { then(pipeline.delivering()); });
}

void GstCamera::start(int index, Then then)
{
    startFrom(index, std::make_shared<const std::vector<StartMode>>(modesFor(index)), 0, std::move(then));
}

void GstCamera::startFrom(
    int index, std::shared_ptr<const std::vector<StartMode>> modes, std::size_t at, Then then)
{
    const auto failed = [this, index, modes, at, then] {
        const std::vector<StartMode>& tried = *modes;
        if (!m_pipelines[index]->failedForBandwidth()) {
            then(false);
            return;
        }
        if (at + 1 < tried.size()) {
            qCWarning(lcCamera, "%s: the USB bus has no room for %s; trying %s", cameraName(index).c_str(),
                tried[at].format.c_str(), tried[at + 1].format.c_str());
            startFrom(index, modes, at + 1, then);
            return;
        }
        if (m_turns || !m_pipelines[1 - index]->running()) {
            then(false);
            return;
        }
        // Alone on the bus, each fits: the live one streams, and each switch
        // starts the other.
        qCWarning(lcCamera,
            "the USB bus cannot carry both cameras' streams, so they take turns and every switch between "
            "them waits for a camera to start; plug the cameras into different USB ports or controllers");
        m_turns = true;
        m_pipelines[1 - index]->stop();
        if (!startIn(index, tried.front())) {
            then(false);
            return;
        }
        awaitDelivering(index, then);
    };
    if (!startIn(index, (*modes)[at])) {
        failed();
        return;
    }
    awaitDelivering(index, [then, failed](bool delivering) {
        if (delivering)
            then(true);
        else
            failed();
    });
}

std::int32_t GstCamera::selectCamera(std::int32_t index)
{
    return blocking([this, index](Answer answer) { selectCameraThen(index, std::move(answer)); });
}

void GstCamera::selectCameraLater(std::int32_t index, Answer answer)
{
    ++m_busy;
    selectCameraThen(
        index, [this, answer = std::move(answer)](std::int32_t result, std::exception_ptr error) {
            --m_busy;
            answer(result, error);
            applyPlugChanges();
        });
}

void GstCamera::selectCameraThen(std::int32_t index, Answer answer)
{
    if (index < 0 || index > 1) {
        answer(0, nullptr);
        return;
    }
    CameraPipeline& pipeline = *m_pipelines[index];
    m_feed->setLive(index);
    if (!bothStream())
        m_pipelines[1 - index]->stop();
    const auto answered = [this, index, answer = std::move(answer)](bool delivering) {
        CameraPipeline& selected = *m_pipelines[index];
        if (!delivering) {
            selected.fail(cameraName(index) + " delivered no picture");
            selected.stop();
            answer(0, nullptr);
            return;
        }
        m_feed->present();
        answer(1, nullptr);
    };
    if (pipeline.healthy())
        awaitDelivering(index, answered);
    else
        start(index, answered);
}

void GstCamera::saveStill(
    std::int32_t compression, std::int32_t bitsPerPixel, const QString& path, const QString& note)
{
    Q_UNUSED(note);
    blocking([&](Answer answer) { saveStillThen(compression, bitsPerPixel, path, std::move(answer)); });
}

void GstCamera::saveStillLater(std::int32_t compression, std::int32_t bitsPerPixel, const QString& path,
    const QString& note, Answer answer)
{
    Q_UNUSED(note);
    ++m_busy;
    saveStillThen(compression, bitsPerPixel, path,
        [this, answer = std::move(answer)](std::int32_t result, std::exception_ptr error) {
            --m_busy;
            answer(result, error);
            applyPlugChanges();
        });
}

void GstCamera::saveStillThen(
    std::int32_t compression, std::int32_t bitsPerPixel, const QString& path, Answer answer)
{
    if (compression != 0)
        return answer(0,
            std::make_exception_ptr(CameraError("SaveStill: compression " + std::to_string(compression)
                + " is not supported; 0 writes an uncompressed bitmap")));
    if (bitsPerPixel != 24)
        return answer(0,
            std::make_exception_ptr(CameraError("SaveStill: " + std::to_string(bitsPerPixel)
                + " bits per pixel are not supported; bitmaps have 24")));
    freshFrameOfLiveCamera(
        [this, path, answer = std::move(answer)](const QImage& frame, std::exception_ptr error) {
            if (error)
                return answer(0, error);
            try {
                // The writer has the frame straight from the camera: no copy
                // in between, and the next camera's frame wait overlaps its write.
                m_stills.write(path, frame);
            } catch (...) {
                return answer(0, std::current_exception());
            }
            answer(0, nullptr);
        });
}

void GstCamera::freshFrameOfLiveCamera(
    std::function<void(const QImage& frame, std::exception_ptr error)> then)
{
    const auto fail
        = [&then](const std::string& why) { then({}, std::make_exception_ptr(CameraError(why))); };
    const int live = m_feed->live();
    if (live < 0)
        return fail("SaveStill: no camera has been selected");
    CameraPipeline& pipeline = *m_pipelines[live];
    if (!pipeline.running())
        return fail("SaveStill: " + cameraName(live) + " cannot be reached");
    // Only a frame that arrives after the capture began is the camera's
    // current picture; anything older may show the sample before it was
    // placed. On its own, a still begins its own capture.
    const bool captureMarked = std::exchange(m_captureMarked[live], false)
        && std::chrono::steady_clock::now() - m_captureBegan < m_timeouts.still;
    if (!captureMarked)
        pipeline.mark();
    await([&pipeline] { return !pipeline.healthy() || bool(pipeline.firstSinceMark()); }, m_timeouts.still,
        [this, live, &pipeline, then = std::move(then)](bool) {
            const auto fail
                = [&then](const std::string& why) { then({}, std::make_exception_ptr(CameraError(why))); };
            const gst::SampleHandle awaited = pipeline.firstSinceMark();
            pipeline.unmark();
            if (!pipeline.healthy())
                return fail("SaveStill: " + cameraName(live) + " failed: "
                    + (pipeline.failure().empty() ? std::string("it was stopped") : pipeline.failure()));
            if (!awaited)
                return fail("SaveStill: " + cameraName(live) + " delivered no picture within "
                    + std::to_string(m_timeouts.still.count()) + " ms");
            const QImage frame = imageOf(awaited);
            if (frame.isNull())
                return fail("SaveStill: " + cameraName(live) + " delivered a picture that cannot be read");
            then(frame, nullptr);
        });
}

} // namespace camera
