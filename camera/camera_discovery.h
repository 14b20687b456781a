#pragma once

#include "camera/mode_policy.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

typedef struct _GstDevice GstDevice;
typedef struct _GstDeviceMonitor GstDeviceMonitor;

namespace camera {

// A video capture device as GStreamer's device monitor reports it.
struct FoundCamera {
    std::shared_ptr<GstDevice> device;
    // The USB port path (udev's ID_PATH, the name in /dev/v4l/by-path
    // without "-video-index0"); empty where the provider does not know it.
    QString portPath;
    QString serial;
    QString node; // /dev/videoN
    QString name;

    // An identity from the settings: port path, serial or device node.
    bool matches(const QString& identity) const;
    // What identifies it best: the port path, else the node.
    QString identity() const;
    // "image/jpeg 1280x720", one per format and size it offers.
    QStringList formats() const;
    // The modes it offers that can be decoded here.
    std::vector<CameraMode> modes() const;
};

// Watches the video capture devices: lists them in a stable order (by USB
// port path, then node) and tells of cameras plugged in and pulled out, on
// this object's thread.
class CameraDiscovery final : public QObject {
    Q_OBJECT
public:
    using Changed = std::function<void(const FoundCamera&)>;
    CameraDiscovery();
    ~CameraDiscovery() override;

    // Starts watching and returns the cameras there now.
    std::vector<FoundCamera> start(Changed added, Changed removed);
    // The cameras there now, without watching.
    static std::vector<FoundCamera> list();

private:
    void deliver(bool added, const FoundCamera& camera);

    // Stops the watch it holds before letting it go.
    struct StopWatching {
        void operator()(GstDeviceMonitor* monitor) const;
    };
    std::unique_ptr<GstDeviceMonitor, StopWatching> m_monitor;
    Changed m_added;
    Changed m_removed;
};

} // namespace camera
