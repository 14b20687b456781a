#include "camera/camera_pipeline.h"

#include "camera/camera_log.h"

#include <gst/app/gstappsink.h>

#include <mutex>

namespace camera {

namespace {
using Clock = std::chrono::steady_clock;
// A frame older than this does not count as the camera delivering frames.
constexpr auto FreshWindow = std::chrono::milliseconds(500);

// A UVC camera whose stream does not fit beside the others on its USB bus
// fails at stream-on with ENOSPC; v4l2src reports that as memory it could
// not allocate for its buffer pool.
bool refusedBandwidth(const std::string& message, const std::string& detail)
{
    for (const char* sign : { "Failed to allocate required memory", "Buffer pool activation failed",
             "No space left on device", "error -28" })
        if (message.find(sign) != std::string::npos || detail.find(sign) != std::string::npos)
            return true;
    return false;
}
} // namespace

// Shared with the streaming thread and the bus's sync handler.
struct CameraPipeline::Slot {
    int index = 0;
    std::function<void()> frameArrived;
    std::function<void()> failedNow;
    mutable std::mutex mutex;
    gst::SampleHandle latest;
    bool marked = false;
    gst::SampleHandle firstSinceMark;
    Clock::time_point arrivedAt;
    int warmupLeft = 0;
    bool failed = false;
    bool bandwidth = false;
    std::string failure;

    void fail(const std::string& why, const std::string& detail)
    {
        bool first = false;
        {
            std::lock_guard lock(mutex);
            if (!failed) {
                failed = first = true;
                failure = why;
                bandwidth = refusedBandwidth(why, detail);
            }
        }
        if (!first)
            return;
        qCWarning(lcCamera, "%s failed: %s%s", cameraName(index).c_str(), why.c_str(),
            detail.empty() ? "" : (" (" + detail + ")").c_str());
        if (failedNow)
            failedNow();
    }
};

// The C callbacks, the only code outside the class that reaches its slot.
struct PipelineCallbacks {
    static GstFlowReturn newSample(GstAppSink* sink, gpointer data)
    {
        auto* slot = static_cast<CameraPipeline::Slot*>(data);
        gst::SampleHandle sample(gst_app_sink_pull_sample(sink));
        if (!sample)
            return GST_FLOW_OK;
        {
            std::lock_guard lock(slot->mutex);
            if (slot->warmupLeft > 0) {
                --slot->warmupLeft;
                return GST_FLOW_OK;
            }
            if (slot->marked && !slot->firstSinceMark)
                slot->firstSinceMark = gst::refSample(sample);
            slot->latest = std::move(sample);
            slot->arrivedAt = Clock::now();
        }
        slot->frameArrived();
        return GST_FLOW_OK;
    }

    // Runs on whichever thread posts; it only records the failure. Every
    // message is dropped so that nothing piles up on a bus that nobody reads.
    static GstBusSyncReply busMessage(GstBus*, GstMessage* message, gpointer data)
    {
        auto* slot = static_cast<CameraPipeline::Slot*>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            gst::ErrorHandle error;
            gst::StringHandle debug;
            gst_message_parse_error(message, gst::out(error), gst::out(debug));
            slot->fail(error ? error->message : "pipeline error", debug ? debug.get() : "");
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            slot->fail("the camera stopped delivering pictures", {});
        }
        return GST_BUS_DROP;
    }
};

CameraPipeline::CameraPipeline(int index, std::function<void()> frameArrived, std::function<void()> failed)
    : m_index(index)
    , m_slot(std::make_unique<Slot>())
{
    m_slot->index = index;
    m_slot->frameArrived = std::move(frameArrived);
    m_slot->failedNow = std::move(failed);
}

// The streaming thread must be gone before the slot it writes to.
CameraPipeline::~CameraPipeline()
{
    stop();
}

bool CameraPipeline::start(gst::ElementHandle pipeline, int warmupFrames)
{
    stop();
    m_pipeline = std::move(pipeline);
    m_sink.reset(gst_bin_get_by_name(GST_BIN(m_pipeline.get()), SinkName));
    {
        std::lock_guard lock(m_slot->mutex);
        m_slot->latest.reset();
        m_slot->warmupLeft = warmupFrames;
    }
    GstAppSinkCallbacks callbacks {};
    callbacks.new_sample = PipelineCallbacks::newSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(m_sink.get()), &callbacks, m_slot.get(), nullptr);
    const gst::BusHandle bus(gst_element_get_bus(m_pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), PipelineCallbacks::busMessage, m_slot.get(), nullptr);

    if (gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        fail("the camera cannot be started");
        stop();
        return false;
    }
    return true;
}

void CameraPipeline::stop()
{
    if (m_pipeline) {
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_sink.reset();
        m_pipeline.reset();
    }
    std::lock_guard lock(m_slot->mutex);
    m_slot->latest.reset();
}

void CameraPipeline::fail(const std::string& why, const std::string& detail)
{
    m_slot->fail(why, detail);
}

void CameraPipeline::clearFailure()
{
    std::lock_guard lock(m_slot->mutex);
    m_slot->failed = false;
    m_slot->bandwidth = false;
    m_slot->failure.clear();
}

bool CameraPipeline::healthy() const
{
    std::lock_guard lock(m_slot->mutex);
    return m_pipeline && !m_slot->failed;
}

std::string CameraPipeline::failure() const
{
    std::lock_guard lock(m_slot->mutex);
    return m_slot->failure;
}

bool CameraPipeline::failedForBandwidth() const
{
    std::lock_guard lock(m_slot->mutex);
    return m_slot->failed && m_slot->bandwidth;
}

bool CameraPipeline::delivering() const
{
    std::lock_guard lock(m_slot->mutex);
    return m_pipeline && !m_slot->failed && m_slot->latest && Clock::now() - m_slot->arrivedAt < FreshWindow;
}

void CameraPipeline::mark()
{
    std::lock_guard lock(m_slot->mutex);
    m_slot->marked = true;
    m_slot->firstSinceMark.reset();
}

void CameraPipeline::unmark()
{
    std::lock_guard lock(m_slot->mutex);
    m_slot->marked = false;
    m_slot->firstSinceMark.reset();
}

gst::SampleHandle CameraPipeline::firstSinceMark() const
{
    std::lock_guard lock(m_slot->mutex);
    return gst::refSample(m_slot->firstSinceMark);
}

gst::SampleHandle CameraPipeline::latest() const
{
    std::lock_guard lock(m_slot->mutex);
    return gst::refSample(m_slot->latest);
}

} // namespace camera
