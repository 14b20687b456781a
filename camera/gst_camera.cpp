#include "gst_camera.h"

#include "bitmap_file.h"
#include "build_config.h"
#include "camera_log.h"
#include "camera_settings.h"
#include "gst_handles.h"
#include "live_view.h"
#include "share_path.h"
#include "share_worker.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace camera {

namespace {

using Clock = std::chrono::steady_clock;

// A frame older than this does not count as the camera delivering frames.
constexpr auto FreshWindow = std::chrono::milliseconds(500);

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

// Wraps the sample's pixels without copying them.
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

std::string cameraName(int index)
{
    return "camera " + std::to_string(index) + (index == 0 ? " (bottom)" : " (colour)");
}

} // namespace

struct GstCamera::Camera {
    int index = 0;
    CameraSource source;
    GstCamera* owner = nullptr;

    // A camera the device monitor finds (no description): the one with this
    // identity, or, while that is empty, the next one listed. What the
    // settings ask of it is applied at each start.
    bool discovered = false;
    QString identity;
    std::shared_ptr<GstDevice> device;
    std::string format;
    std::string controls;

    // Touched only by the user-interface thread.
    gst::ElementHandle pipeline;
    gst::ElementHandle sink;

    // Shared with the streaming thread.
    std::mutex mutex;
    std::condition_variable changed;
    gst::SampleHandle latest;
    std::uint64_t sequence = 0;
    Clock::time_point arrivedAt;
    int warmupLeft = 0;
    bool failed = false;
    std::string failure;

    // `why` is what the operator is told; `detail` (GStreamer's debug text)
    // only goes to the log.
    void fail(std::string why, const std::string& detail = {})
    {
        bool first = false;
        {
            std::lock_guard lock(mutex);
            if (!failed) {
                failed = first = true;
                failure = why;
            }
        }
        if (first)
            qCWarning(lcCamera, "%s failed: %s%s", cameraName(index).c_str(), why.c_str(),
                detail.empty() ? "" : (" (" + detail + ")").c_str());
        changed.notify_all();
    }
};

namespace {

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data)
{
    auto* camera = static_cast<GstCamera::Camera*>(data);
    gst::SampleHandle sample(gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_OK;
    {
        std::lock_guard lock(camera->mutex);
        if (camera->warmupLeft > 0) {
            --camera->warmupLeft;
            return GST_FLOW_OK;
        }
        camera->latest = std::move(sample);
        ++camera->sequence;
        camera->arrivedAt = Clock::now();
    }
    camera->changed.notify_all();
    camera->owner->frameArrived(*camera);
    return GST_FLOW_OK;
}

// Runs on whichever thread posts; it only records the failure. Every message
// is dropped so that nothing piles up on a bus that nobody reads.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data)
{
    auto* camera = static_cast<GstCamera::Camera*>(data);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        gst::ErrorHandle error;
        gst::StringHandle debug;
        gst_message_parse_error(message, gst::out(error), gst::out(debug));
        camera->fail(error ? error->message : "pipeline error", debug ? debug.get() : "");
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        camera->fail("the camera stopped delivering pictures");
    }
    return GST_BUS_DROP;
}

} // namespace

GstCamera::GstCamera(
    std::array<CameraSource, 2> sources, const image_store::ShareMap& share, CameraTimeouts timeouts)
    : m_share(share)
    , m_timeouts(timeouts)
{
    gst::ensureInitialised();
    for (int i = 0; i < 2; ++i) {
        m_cameras[i] = std::make_unique<Camera>();
        m_cameras[i]->index = i;
        m_cameras[i]->owner = this;
        m_cameras[i]->source = std::move(sources[i]);
    }
}

GstCamera::~GstCamera()
{
    // Streaming threads must be gone before the slots they write to.
    for (auto& camera : m_cameras)
        stop(*camera);
}

std::array<CameraSource, 2> GstCamera::buildSources()
{
    return { CameraSource {
                 std::string(buildconfig::BottomCameraSource), buildconfig::BottomCameraWarmupFrames },
        CameraSource { std::string(buildconfig::ColorCameraSource), buildconfig::ColorCameraWarmupFrames } };
}

Result GstCamera::invoke(std::int32_t dispid, DispatchKind kind, std::vector<Argument>& arguments)
{
    const Operation* op = findOperation(dispid, kind);
    if (!op)
        throw CameraError("The camera has no operation with DISPID " + std::to_string(dispid)
            + (kind == DispatchKind::Method ? " (method)" : " (property put)"));
    const ArgumentReader args(*op, arguments);
    switch (dispid) {
    case operation::InitializeControl.dispid:
        initializeControl(args.stringAt(0), args.stringAt(1), args.longAt(2));
        return {};
    case operation::SetStartupOptions.dispid:
        setStartupOptions(args.longAt(0), args.longAt(1), args.longAt(2));
        return {};
    case operation::StartControl.dispid:
        args.longRefAt(0) = startControl();
        return {};
    case operation::StartupSwitch.dispid:
        setStartupSwitch(args.longAt(0));
        return {};
    case operation::SelectCamera.dispid:
        return selectCamera(args.longAt(0));
    case operation::SaveStill.dispid:
        saveStill(args.longAt(0), args.longAt(1), args.stringRefAt(2), args.stringAt(3));
        return {};
    default:
        break;
    }
    throw CameraError("Operation " + std::string(op->name) + " is not implemented");
}

void GstCamera::attachView(LiveView* view)
{
    m_view = view;
    if (m_view) {
        m_view->setMirrored(m_mirror);
        m_view->setStretched(m_stretch);
        m_view->setFrozen(!m_viewEnabled.load());
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
    chooseCameras(settingsKey);
}

void GstCamera::setStartupOptions(std::int32_t mirror, std::int32_t stretch, std::int32_t keepStreaming)
{
    m_mirror = mirror != 0;
    m_stretch = stretch != 0;
    m_keepStreaming = keepStreaming != 0;
    attachView(m_view);
}

std::int32_t GstCamera::startControl()
{
    m_controlStarted = true;
    std::int32_t started = 0;
    for (auto& camera : m_cameras) {
        if (!m_keepStreaming && camera->index != m_live.load() && m_live.load() >= 0)
            continue;
        if (start(*camera))
            ++started;
    }
    return started;
}

void GstCamera::setStartupSwitch(std::int32_t value)
{
    m_viewEnabled = value != 0;
    if (m_view)
        m_view->setFrozen(!m_viewEnabled.load());
}

bool GstCamera::start(Camera& camera)
{
    stop(camera);
    {
        // A new start, so its own failure is the one recorded and logged.
        std::lock_guard lock(camera.mutex);
        camera.failed = false;
        camera.failure.clear();
    }
    if (!buildPipeline(camera))
        return false;
    camera.sink.reset(gst_bin_get_by_name(GST_BIN(camera.pipeline.get()), "imagemaker_sink"));

    {
        std::lock_guard lock(camera.mutex);
        camera.latest.reset();
        camera.warmupLeft = camera.source.warmupFrames;
    }

    GstAppSinkCallbacks callbacks {};
    callbacks.new_sample = onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(camera.sink.get()), &callbacks, &camera, nullptr);
    const gst::BusHandle bus(gst_element_get_bus(camera.pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), onBusMessage, &camera, nullptr);

    if (gst_element_set_state(camera.pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        camera.fail("the camera cannot be started");
        stop(camera);
        return false;
    }
    return true;
}

bool GstCamera::buildPipeline(Camera& camera)
{
    const std::string tail = "videoconvert ! video/x-raw,format=BGRx"
                             " ! appsink name=imagemaker_sink max-buffers=1 drop=true sync=false"
                             " enable-last-sample=false";
    gst::ErrorHandle error;
    if (!camera.discovered) {
        // Parsing may return a pipeline together with an error: both are let go.
        gst::ElementHandle parsed = gst::adoptElement(
            gst_parse_launch((camera.source.description + " ! " + tail).c_str(), gst::out(error)));
        if (error || !parsed) {
            const std::string why = error ? error->message : "the camera's description cannot be built";
            camera.fail(why + " in \"" + camera.source.description + "\"");
            return false;
        }
        camera.pipeline = std::move(parsed);
        return true;
    }

    if (!camera.device) {
        camera.fail(camera.identity.isEmpty()
                ? std::string("no camera is plugged in")
                : "no camera " + camera.identity.toStdString() + " is plugged in");
        return false;
    }
    gst::ElementHandle source = gst::adoptElement(gst_device_create_element(camera.device.get(), nullptr));
    if (!source) {
        camera.fail("camera " + camera.identity.toStdString() + " cannot be opened");
        return false;
    }
    if (!camera.controls.empty()) {
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(source.get()), "extra-controls"))
            gst_util_set_object_arg(
                G_OBJECT(source.get()), "extra-controls", ("controls," + camera.controls).c_str());
        else
            qCWarning(lcCamera, "%s takes no controls; \"%s\" is ignored", cameraName(camera.index).c_str(),
                camera.controls.c_str());
    }
    std::string rest = tail;
    if (!camera.format.empty())
        rest = "capsfilter caps=\"" + camera.format + "\""
            + (camera.format.rfind("image/jpeg", 0) == 0 ? " ! jpegdec ! " : " ! ") + tail;
    gst::ElementHandle converter
        = gst::adoptElement(gst_parse_bin_from_description(rest.c_str(), TRUE, gst::out(error)));
    if (error || !converter) {
        camera.fail((error ? error->message : "cannot be built") + std::string(" in \"") + rest + "\"");
        return false;
    }
    gst::ElementHandle pipeline = gst::adoptElement(gst_pipeline_new(nullptr));
    gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), converter.get(), nullptr);
    if (!gst_element_link(source.get(), converter.get())) {
        camera.fail("camera " + camera.identity.toStdString() + " cannot deliver \"" + camera.format + "\"");
        return false;
    }
    camera.pipeline = std::move(pipeline);
    return true;
}

void GstCamera::chooseCameras(const QString& settingsKey)
{
    std::array<CameraSetting, 2> settings {};
    if (!m_settingsFolder.isEmpty()) {
        const QString file = settingsFile(m_settingsFolder, settingsKey);
        settings = readCameraSettings(file);
        qCInfo(lcCamera, "camera settings from %s", qPrintable(file));
    }
    bool discovering = false;
    for (auto& camera : m_cameras) {
        const CameraSetting& setting = settings[static_cast<size_t>(camera->index)];
        if (setting.warmupFrames >= 0)
            camera->source.warmupFrames = setting.warmupFrames;
        if (!setting.source.isEmpty())
            camera->source.description = setting.source.toStdString();
        else if (!setting.identity.isEmpty())
            camera->source.description.clear();
        camera->discovered = camera->source.description.empty();
        camera->identity = camera->discovered ? setting.identity : QString();
        camera->format = setting.format.toStdString();
        camera->controls = setting.controls.toStdString();
        discovering = discovering || camera->discovered;
    }
    if (!discovering)
        return;

    m_discovery = std::make_unique<CameraDiscovery>();
    std::vector<FoundCamera> found = m_discovery->start([this](const FoundCamera& f) { cameraPluggedIn(f); },
        [this](const FoundCamera& f) { cameraPulledOut(f); });
    const auto take = [&](Camera& camera, const auto& wanted) {
        const auto it = std::find_if(found.begin(), found.end(), wanted);
        if (it == found.end())
            return;
        camera.device = it->device;
        if (camera.identity.isEmpty())
            camera.identity = it->identity();
        qCInfo(lcCamera, "%s is %s at %s", cameraName(camera.index).c_str(), qPrintable(it->name),
            qPrintable(it->identity()));
        found.erase(it);
    };
    // Cameras named in the settings first; the others take the rest in order.
    for (auto& camera : m_cameras)
        if (camera->discovered && !camera->identity.isEmpty())
            take(*camera, [&](const FoundCamera& f) { return f.matches(camera->identity); });
    for (auto& camera : m_cameras)
        if (camera->discovered && camera->identity.isEmpty())
            take(*camera, [](const FoundCamera&) { return true; });
}

void GstCamera::cameraPluggedIn(const FoundCamera& found)
{
    for (auto& camera : m_cameras) {
        if (!camera->discovered
            || (camera->identity.isEmpty() ? camera->device != nullptr : !found.matches(camera->identity)))
            continue;
        // The monitor's first news of a camera already chosen.
        if (camera->device == found.device)
            return;
        camera->device = found.device;
        if (camera->identity.isEmpty())
            camera->identity = found.identity();
        qCWarning(lcCamera, "%s is back: %s at %s", cameraName(camera->index).c_str(), qPrintable(found.name),
            qPrintable(found.identity()));
        // The live camera comes back by itself; the other at its next
        // selection, or now when both keep streaming.
        if (m_controlStarted && (camera->index == m_live.load() || m_keepStreaming))
            start(*camera);
        return;
    }
}

void GstCamera::cameraPulledOut(const FoundCamera& found)
{
    for (auto& camera : m_cameras) {
        if (!camera->discovered || !camera->device || !found.matches(camera->identity))
            continue;
        camera->fail("the camera was unplugged");
        stop(*camera);
        camera->device.reset();
    }
}

void GstCamera::stop(Camera& camera)
{
    if (camera.pipeline) {
        gst_element_set_state(camera.pipeline.get(), GST_STATE_NULL);
        camera.sink.reset();
        camera.pipeline.reset();
    }
    std::lock_guard lock(camera.mutex);
    camera.latest.reset();
}

bool GstCamera::waitForFrames(Camera& camera)
{
    std::unique_lock lock(camera.mutex);
    const auto delivering
        = [&] { return camera.failed || (camera.latest && Clock::now() - camera.arrivedAt < FreshWindow); };
    const auto deadline = Clock::now() + m_timeouts.select;
    while (!delivering()) {
        if (camera.changed.wait_until(lock, deadline) == std::cv_status::timeout && !delivering())
            return false;
    }
    return !camera.failed;
}

std::int32_t GstCamera::selectCamera(std::int32_t index)
{
    if (index < 0 || index > 1)
        return 0;
    Camera& camera = *m_cameras[index];
    bool healthy = false;
    {
        std::lock_guard lock(camera.mutex);
        healthy = camera.pipeline && !camera.failed;
    }
    m_live = index;
    if (!m_keepStreaming)
        stop(*m_cameras[1 - index]);
    if (!healthy && !start(camera))
        return 0;
    if (!waitForFrames(camera)) {
        camera.fail(cameraName(index) + " delivered no picture");
        stop(camera);
        return 0;
    }
    presentFrame();
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
    const QString local = m_share.toLocal(path);
    const int live = m_live.load();
    if (live < 0)
        throw CameraError("SaveStill: no camera has been selected");
    Camera& camera = *m_cameras[live];
    if (!camera.pipeline)
        throw CameraError("SaveStill: " + cameraName(live) + " cannot be reached");

    // Only a frame that arrives after this call began is the camera's current
    // picture; anything older may show the sample before it was placed.
    gst::SampleHandle sample;
    {
        std::unique_lock lock(camera.mutex);
        const std::uint64_t before = camera.sequence;
        const bool fresh = camera.changed.wait_for(
            lock, m_timeouts.still, [&] { return camera.failed || camera.sequence > before; });
        if (camera.failed)
            throw CameraError("SaveStill: " + cameraName(live) + " failed: " + camera.failure);
        if (!fresh)
            throw CameraError("SaveStill: " + cameraName(live) + " delivered no picture within "
                + std::to_string(m_timeouts.still.count()) + " ms");
        sample = gst::refSample(camera.latest);
    }
    // Straight from the mapped frame: no copy in between.
    const QImage frame = imageOf(sample);
    if (frame.isNull())
        throw CameraError("SaveStill: " + cameraName(live) + " delivered a picture that cannot be read");
    if (!m_writer) {
        writeBitmapFile(local, frame.constBits(), frame.width(), frame.height(), frame.bytesPerLine());
        return;
    }
    // The frame stays mapped until it is written; the next camera's frame
    // wait overlaps the write.
    m_writer->post([frame, local] {
        writeBitmapFile(local, frame.constBits(), frame.width(), frame.height(), frame.bytesPerLine());
    });
}

void GstCamera::frameArrived(Camera& camera)
{
    if (camera.index == m_live.load() && m_viewEnabled.load() && !m_framePending.exchange(true))
        QMetaObject::invokeMethod(this, &GstCamera::presentFrame, Qt::QueuedConnection);
}

void GstCamera::presentFrame()
{
    m_framePending = false;
    const int live = m_live.load();
    if (!m_view || !m_viewEnabled.load() || live < 0)
        return;
    Camera& camera = *m_cameras[live];
    gst::SampleHandle sample;
    {
        std::lock_guard lock(camera.mutex);
        sample = gst::refSample(camera.latest);
    }
    if (sample)
        m_view->setFrame(imageOf(sample));
}

} // namespace camera
