#include "camera/camera_choice.h"

#include "camera/camera_log.h"
#include "camera/camera_settings.h"

#include <QFileInfo>

#include <algorithm>

namespace camera {

CameraChoice::CameraChoice(std::array<CameraSource, 2> sources)
{
    for (std::size_t i = 0; i < 2; ++i)
        m_cameras[i].source = std::move(sources[i]);
}

CameraChoice::~CameraChoice() = default;

void CameraChoice::choose(const QString& settingsKey, Changed changed)
{
    m_changed = std::move(changed);
    applySettings(settingsKey);
    if (std::none_of(m_cameras.begin(), m_cameras.end(), [](const ChosenCamera& c) { return c.discovered; }))
        return;
    takeDevices();
}

void CameraChoice::applySettings(const QString& settingsKey)
{
    std::array<CameraSetting, 2> settings {};
    if (!m_settingsFolders.isEmpty()) {
        const QString file = findSettingsFile(m_settingsFolders, settingsKey);
        try {
            settings = readCameraSettings(file);
            if (QFileInfo::exists(file))
                qCInfo(lcCamera, "camera settings from %s", qPrintable(file));
            else
                qCInfo(lcCamera, "no camera settings in %s",
                    qPrintable(m_settingsFolders.join(QLatin1Char(':'))));
        } catch (const SettingsError& error) {
            // Told, never passed over: bottom and colour may swap without them.
            qCWarning(lcCamera, "camera settings not used, cameras taken in port order: %s", error.what());
            m_settingsProblem = error.operatorText();
        }
    }
    for (std::size_t i = 0; i < 2; ++i) {
        ChosenCamera& camera = m_cameras[i];
        const CameraSetting& setting = settings[i];
        if (setting.warmupFrames >= 0)
            camera.source.warmupFrames = setting.warmupFrames;
        if (!setting.source.isEmpty())
            camera.source.description = setting.source.toStdString();
        else if (!setting.identity.isEmpty())
            camera.source.description.clear();
        camera.discovered = camera.source.description.empty();
        camera.identity = camera.discovered ? setting.identity : QString();
        camera.format = setting.format.toStdString();
        camera.controls = setting.controls.toStdString();
    }
}

void CameraChoice::takeDevices()
{
    m_discovery = std::make_unique<CameraDiscovery>();
    std::vector<FoundCamera> found = m_discovery->start(
        [this](const FoundCamera& f) { pluggedIn(f); }, [this](const FoundCamera& f) { pulledOut(f); });
    const auto take = [&](std::size_t index, const auto& wanted) {
        ChosenCamera& camera = m_cameras[index];
        const auto it = std::find_if(found.begin(), found.end(), wanted);
        if (it == found.end())
            return;
        camera.device = it->device;
        if (camera.identity.isEmpty())
            camera.identity = it->identity();
        qCInfo(lcCamera, "%s is %s at %s", cameraName(int(index)).c_str(), qPrintable(it->name),
            qPrintable(it->identity()));
        found.erase(it);
    };
    // Cameras named in the settings first; the others take the rest in order.
    for (std::size_t i = 0; i < 2; ++i)
        if (m_cameras[i].discovered && !m_cameras[i].identity.isEmpty())
            take(i, [&](const FoundCamera& f) { return f.matches(m_cameras[i].identity); });
    for (std::size_t i = 0; i < 2; ++i)
        if (m_cameras[i].discovered && m_cameras[i].identity.isEmpty())
            take(i, [](const FoundCamera&) { return true; });
}

void CameraChoice::pluggedIn(const FoundCamera& found)
{
    for (std::size_t i = 0; i < 2; ++i) {
        ChosenCamera& camera = m_cameras[i];
        if (!camera.discovered
            || (camera.identity.isEmpty() ? camera.device != nullptr : !found.matches(camera.identity)))
            continue;
        // The monitor's first news of a camera already chosen.
        if (camera.device == found.device)
            return;
        camera.device = found.device;
        if (camera.identity.isEmpty())
            camera.identity = found.identity();
        qCWarning(lcCamera, "%s is back: %s at %s", cameraName(int(i)).c_str(), qPrintable(found.name),
            qPrintable(found.identity()));
        if (m_changed)
            m_changed(int(i), true);
        return;
    }
}

void CameraChoice::pulledOut(const FoundCamera& found)
{
    for (std::size_t i = 0; i < 2; ++i) {
        ChosenCamera& camera = m_cameras[i];
        if (!camera.discovered || !camera.device || !found.matches(camera.identity))
            continue;
        if (m_changed)
            m_changed(int(i), false);
        camera.device.reset();
    }
}

} // namespace camera
