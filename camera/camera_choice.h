#pragma once

#include "camera/camera_discovery.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace camera {

struct CameraSource {
    // A GStreamer source description ("videotestsrc ...", "v4l2src device=...");
    // empty: a camera the device monitor finds.
    std::string description;
    // Frames thrown away after each start: fresh UVC cameras deliver dark ones.
    int warmupFrames = 0;
};

// What one camera index is: a source description, or a device the monitor
// found (with the identity that finds it again, and what the settings ask
// of it at each start).
struct ChosenCamera {
    CameraSource source;
    bool discovered = false;
    // The identity that finds it again after a replug; while empty, the
    // next camera the monitor lists.
    QString identity;
    std::shared_ptr<GstDevice> device;
    std::string format;
    std::string controls;
};

// Decides which camera each index is: its settings' source; else the device
// its identity names; else the build's description; else the next camera
// the device monitor lists, in port order. Then follows the chosen devices
// as they are pulled out and plugged in again.
class CameraChoice {
public:
    // Runs when the device of camera `index` is plugged in again (true) or
    // pulled out (false).
    using Changed = std::function<void(int index, bool pluggedIn)>;

    explicit CameraChoice(std::array<CameraSource, 2> sources);
    ~CameraChoice();

    // The first of these folders that holds the settings file is read.
    void readSettingsFrom(const QStringList& folders) { m_settingsFolders = folders; }
    void choose(const QString& settingsKey, Changed changed);
    const ChosenCamera& operator[](int index) const { return m_cameras[static_cast<std::size_t>(index)]; }
    // Why the settings file was not used, in the operator's words; empty
    // when it was, or when there is none.
    const QString& settingsProblem() const { return m_settingsProblem; }

private:
    void applySettings(const QString& settingsKey);
    void takeDevices();
    void pluggedIn(const FoundCamera& found);
    void pulledOut(const FoundCamera& found);

    std::array<ChosenCamera, 2> m_cameras;
    QStringList m_settingsFolders;
    QString m_settingsProblem;
    std::unique_ptr<CameraDiscovery> m_discovery;
    Changed m_changed;
};

} // namespace camera
