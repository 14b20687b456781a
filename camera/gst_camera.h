#pragma once

#include "camera_control.h"
#include "camera_discovery.h"

#include <QObject>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace image_store {
class ShareMap;
class ShareWorker;
}

namespace camera {

struct CameraSource {
    // A GStreamer source description ("videotestsrc ...", "v4l2src device=...");
    // empty: a camera the device monitor finds.
    std::string description;
    // Frames thrown away after each start: fresh UVC cameras deliver dark ones.
    int warmupFrames = 0;
};

struct CameraTimeouts {
    // Longest SelectCamera waits for the camera to deliver a frame.
    std::chrono::milliseconds select { 2500 };
    // Longest SaveStill waits for a frame newer than the call.
    std::chrono::milliseconds still { 2000 };
};

// Two cameras on GStreamer: index 0 is the bottom camera, 1 the colour one.
// Each camera is its own pipeline ending in an appsink that keeps only the
// latest frame; the live camera's frames go to the view.
//
// What the control's fixed arguments mean here:
//  - InitializeControl(application name, settings key, flags): the key names
//    the settings file (see readSettingsFrom); each camera is then what its
//    settings say (a source description, or the device with an identity),
//    else the build's description, else the next camera the device monitor
//    lists; flags must be 0. Cameras found by the monitor restart by
//    themselves when they are plugged in again.
//  - SetStartupOptions(mirror, stretch, keepStreaming): mirror the live view
//    horizontally; stretch it to the view instead of keeping the aspect; keep
//    the camera that is not live streaming (1), so a switch costs no camera
//    start, or stop it (0), for buses too slow for two streams.
//  - StartControl(&status): starts the cameras (both, or the live one when
//    keepStreaming is 0) and writes how many came up; a camera that does not
//    is tried again at its next SelectCamera.
//  - StartupSwitch = v: non-zero shows the live camera in the view, 0 freezes it.
//  - SaveStill(compression, bits per pixel, &path, note): compression must be 0
//    (an uncompressed bitmap) and bits per pixel 24; the note is not stored.
class GstCamera final : public QObject, public CameraDispatch {
    Q_OBJECT
public:
    GstCamera(std::array<CameraSource, 2> sources, const image_store::ShareMap& share,
        CameraTimeouts timeouts = {});
    ~GstCamera() override;

    // The cameras of this build.
    static std::array<CameraSource, 2> buildSources();
    // Settings are read from this folder of system-wide settings (/etc/xdg);
    // without it, only the sources given are used.
    void readSettingsFrom(const QString& folder) { m_settingsFolder = folder; }

    Result invoke(std::int32_t dispid, DispatchKind kind, std::vector<Argument>& arguments) override;
    void attachView(LiveView* view) override;

    // Stills are then written by the share worker, and SaveStill returns once
    // it has its frame; ImageStore::waitForStills() tells when they are in
    // place. Without one, SaveStill writes before it returns.
    void writeStillsOn(image_store::ShareWorker* worker) { m_writer = worker; }

    struct Camera;
    // Called on a streaming thread for each frame that a camera keeps.
    void frameArrived(Camera& camera);

private:
    // The control's operations, reached through invoke().
    void initializeControl(const QString& applicationName, const QString& settingsKey, std::int32_t flags);
    void setStartupOptions(std::int32_t mirror, std::int32_t stretch, std::int32_t keepStreaming);
    std::int32_t startControl();
    void setStartupSwitch(std::int32_t value);
    std::int32_t selectCamera(std::int32_t index);
    void saveStill(
        std::int32_t compression, std::int32_t bitsPerPixel, const QString& path, const QString& note);

    void chooseCameras(const QString& settingsKey);
    void cameraPluggedIn(const FoundCamera& found);
    void cameraPulledOut(const FoundCamera& found);
    bool start(Camera& camera);
    bool buildPipeline(Camera& camera);
    void stop(Camera& camera);
    bool waitForFrames(Camera& camera);
    void presentFrame();

    const image_store::ShareMap& m_share;
    QString m_settingsFolder;
    std::unique_ptr<CameraDiscovery> m_discovery;
    image_store::ShareWorker* m_writer = nullptr;
    CameraTimeouts m_timeouts;
    std::array<std::unique_ptr<Camera>, 2> m_cameras;
    std::atomic<int> m_live { -1 };
    std::atomic<bool> m_viewEnabled { true };
    std::atomic<bool> m_framePending { false };
    bool m_keepStreaming = true;
    bool m_controlStarted = false;
    bool m_mirror = false;
    bool m_stretch = false;
    LiveView* m_view = nullptr;
};

} // namespace camera
