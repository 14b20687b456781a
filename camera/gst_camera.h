#pragma once

#include "camera/camera_choice.h"
#include "camera/camera_wait.h"
#include "camera/dispatched_control.h"
#include "camera/mode_policy.h"

#include <array>
#include <chrono>
#include <memory>

namespace image_store {
class StillWriter;
}

namespace camera {

class CameraPipeline;
class LiveFeed;

struct CameraTimeouts {
    // Longest a start or SelectCamera waits for the camera to deliver a
    // frame, beyond the time its warm-up frames take.
    std::chrono::milliseconds select { 2500 };
    // Longest SaveStill waits for a frame newer than the call.
    std::chrono::milliseconds still { 2000 };
};

// Two cameras on GStreamer: index 0 is the bottom camera, 1 the colour one,
// each its own pipeline; the live camera's frames go to the view and its
// stills to the still writer.
//
// What the control's fixed arguments mean here:
//  - InitializeControl(application name, settings key, flags): the key names
//    the settings file (see readSettingsFrom) from which the cameras are
//    chosen (CameraChoice); flags must be 0. Cameras found by the monitor
//    restart by themselves when they are plugged in again.
//  - SetStartupOptions(mirror, stretch, keepStreaming): mirror the live view
//    horizontally; stretch it to the view instead of keeping the aspect; keep
//    the camera that is not live streaming (1), so a switch costs no camera
//    start, or stop it (0), for buses too slow for two streams.
//  - StartControl(&status): starts the cameras (both, or the live one when
//    keepStreaming is 0) and writes how many came up; a camera that does not
//    is tried again at its next SelectCamera. A camera whose stream the USB
//    bus cannot carry beside the other's is tried in smaller modes; when
//    none fits, the two take turns as with keepStreaming 0.
//  - StartupSwitch = v: non-zero shows the live camera in the view, 0 freezes it.
//  - SaveStill(compression, bits per pixel, &path, note): compression must be 0
//    (an uncompressed bitmap) and bits per pixel 24; the note is not stored.
//    It returns once the writer has the frame, which is the camera's first
//    frame since the call, or since beginCapture when a capture began lately.
class GstCamera final : public DispatchedControl {
public:
    GstCamera(
        std::array<CameraSource, 2> sources, image_store::StillWriter& stills, CameraTimeouts timeouts = {});
    ~GstCamera() override;

    // The cameras of this build.
    static std::array<CameraSource, 2> buildSources();
    // Settings are read from the first of these folders of system-wide
    // settings (/etc/xdg) that holds them; without any, only the sources
    // given are used.
    void readSettingsFrom(const QStringList& folders) { m_choice.readSettingsFrom(folders); }
    // Once the control has started: why its settings file was not used.
    const QString& settingsProblem() const { return m_choice.settingsProblem(); }

    void attachView(LiveView* view) override;
    void beginCapture() override;
    void endCapture() override;
    // The two cameras take turns: the bus cannot carry both streams.
    bool takingTurns() const { return m_turns; }

private:
    void initializeControl(
        const QString& applicationName, const QString& settingsKey, std::int32_t flags) override;
    void setStartupOptions(std::int32_t mirror, std::int32_t stretch, std::int32_t keepStreaming) override;
    std::int32_t startControl() override;
    void setStartupSwitch(std::int32_t value) override;
    std::int32_t selectCamera(std::int32_t index) override;
    void saveStill(std::int32_t compression, std::int32_t bitsPerPixel, const QString& path,
        const QString& note) override;
    void startControlLater(Answer answer) override;
    void selectCameraLater(std::int32_t index, Answer answer) override;
    void saveStillLater(std::int32_t compression, std::int32_t bitsPerPixel, const QString& path,
        const QString& note, Answer answer) override;

    using Then = CameraWait::Then;
    // Each operation is written once, as steps that go on when the camera
    // has answered: inside a synchronous call each wait blocks, otherwise it
    // is a request to m_wait.
    template <typename Operation> std::int32_t blocking(Operation operation);
    void await(std::function<bool()> done, std::chrono::milliseconds bound, Then then);

    void cameraChanged(int index, bool pluggedIn);
    void applyPlugChanges();
    void startControlThen(Answer answer);
    void startEach(int index, std::int32_t started, Answer answer);
    void selectCameraThen(std::int32_t index, Answer answer);
    void saveStillThen(
        std::int32_t compression, std::int32_t bitsPerPixel, const QString& path, Answer answer);
    // Starts the camera in its best mode and waits until it delivers; when
    // the bus refuses that mode's bandwidth, tries the smaller ones.
    void start(int index, Then then);
    // A format to ask of the camera, and its rate (0: not known).
    struct StartMode {
        std::string format;
        double fps = 0;
    };
    bool startIn(int index, const StartMode& mode);
    void startFrom(int index, std::shared_ptr<const std::vector<StartMode>> modes, std::size_t at, Then then);
    void awaitDelivering(int index, Then then);
    std::chrono::milliseconds startBound(int index) const;
    // The modes worth trying for a camera, best first; one with an empty
    // format when the settings or its source decide.
    std::vector<StartMode> modesFor(int index);
    bool bothStream() const { return m_keepStreaming && !m_turns; }
    void freshFrameOfLiveCamera(std::function<void(const QImage& frame, std::exception_ptr error)> then);

    image_store::StillWriter& m_stills;
    CameraTimeouts m_timeouts;
    CameraChoice m_choice;
    // Declared before the pipelines, whose streaming threads announce
    // frames to it until they stop.
    std::unique_ptr<LiveFeed> m_feed;
    CameraWait m_wait;
    std::array<std::unique_ptr<CameraPipeline>, 2> m_pipelines;
    // The rate of the mode each camera was last started in (0: not known).
    std::array<double, 2> m_rate {};
    std::array<std::string, 2> m_toldChoice;
    bool m_keepStreaming = true;
    bool m_turns = false;
    // Since when each camera's next still may be its first frame since then.
    std::chrono::steady_clock::time_point m_captureBegan;
    std::array<bool, 2> m_captureMarked {};
    bool m_controlStarted = false;
    // Inside a synchronous call: waits block.
    bool m_blocking = false;
    // Operations under way, and a capture: a camera plugged in meanwhile is
    // restarted once they are over.
    int m_busy = 0;
    std::vector<std::pair<int, bool>> m_plugChanges;
};

} // namespace camera
