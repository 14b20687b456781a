#pragma once

#include "camera/gst_handles.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace camera {

struct PipelineCallbacks;

// One camera's running pipeline, which ends in an appsink named SinkName
// that keeps only the latest frame. The streaming thread puts each frame in
// one slot and never blocks; the first failure since the last start is
// recorded and logged. Start and stop belong to the user-interface thread;
// whoever waits for it is woken by the callbacks.
class CameraPipeline {
public:
    static constexpr const char* SinkName = "imagemaker_sink";

    // `frameArrived` runs on a streaming thread after each frame kept,
    // `failed` on any thread after the first failure since the last start.
    CameraPipeline(int index, std::function<void()> frameArrived, std::function<void()> failed);
    ~CameraPipeline();
    CameraPipeline(const CameraPipeline&) = delete;
    CameraPipeline& operator=(const CameraPipeline&) = delete;

    // Plays the pipeline; the first `warmupFrames` frames are thrown away.
    // False, with the failure recorded, when it cannot start.
    bool start(gst::ElementHandle pipeline, int warmupFrames);
    void stop();
    // `why` is what the operator is told; `detail` only goes to the log.
    void fail(const std::string& why, const std::string& detail = {});
    // A new start's own failure is the one recorded.
    void clearFailure();

    bool running() const { return m_pipeline != nullptr; }
    bool healthy() const;
    std::string failure() const;
    // The failure was the USB bus refusing the bandwidth of another stream.
    bool failedForBandwidth() const;

    // It has sent a frame lately and not failed since.
    bool delivering() const;
    // From now on, the first frame kept is put aside until unmarked; a
    // restart in between does not lose the mark.
    void mark();
    void unmark();
    // That frame, or null while none has come since the mark.
    gst::SampleHandle firstSinceMark() const;
    gst::SampleHandle latest() const;

private:
    friend struct PipelineCallbacks;
    struct Slot;

    int m_index;
    gst::ElementHandle m_pipeline;
    gst::ElementHandle m_sink;
    std::unique_ptr<Slot> m_slot;
};

} // namespace camera
