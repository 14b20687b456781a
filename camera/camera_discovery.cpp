#include "camera/camera_discovery.h"

#include "camera/camera_log.h"
#include "camera/gst_handles.h"

#include <algorithm>

namespace camera {

namespace {

QString property(const GstStructure* properties, const char* name)
{
    const gchar* value = properties ? gst_structure_get_string(properties, name) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

FoundCamera describe(GstDevice* device)
{
    FoundCamera found;
    found.device = gst::refDevice(device);
    const gst::StructureHandle properties(gst_device_get_properties(device));
    found.portPath = property(properties.get(), "device.bus_path");
    found.serial = property(properties.get(), "device.serial");
    found.node = property(properties.get(), "device.path");
    const gst::StringHandle name(gst_device_get_display_name(device));
    found.name = name ? QString::fromUtf8(name.get()) : QString();
    return found;
}

void sortStably(std::vector<FoundCamera>& cameras)
{
    std::sort(cameras.begin(), cameras.end(), [](const FoundCamera& a, const FoundCamera& b) {
        return std::tie(a.portPath, a.node, a.name) < std::tie(b.portPath, b.node, b.name);
    });
}

gst::MonitorHandle videoSourceMonitor()
{
    gst::ensureInitialised();
    gst::MonitorHandle monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    return monitor;
}

std::vector<FoundCamera> devicesOf(GstDeviceMonitor* monitor)
{
    std::vector<FoundCamera> cameras;
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item; item = item->next)
        cameras.push_back(describe(GST_DEVICE(item->data)));
    g_list_free_full(devices, gst_object_unref);
    sortStably(cameras);
    return cameras;
}

} // namespace

bool FoundCamera::matches(const QString& identity) const
{
    // A by-path link names the port and the node's index.
    static const QString byPath = QStringLiteral("/dev/v4l/by-path/");
    QString wanted = identity.trimmed();
    if (wanted.startsWith(byPath))
        wanted = wanted.mid(byPath.size()).section(QStringLiteral("-video-index"), 0, 0);
    return !wanted.isEmpty() && (wanted == portPath || wanted == serial || wanted == node);
}

QString FoundCamera::identity() const
{
    return portPath.isEmpty() ? node : portPath;
}

QStringList FoundCamera::formats() const
{
    QStringList result;
    const gst::CapsHandle caps(gst_device_get_caps(device.get()));
    for (guint i = 0; caps && i < gst_caps_get_size(caps.get()); ++i) {
        const GstStructure* structure = gst_caps_get_structure(caps.get(), i);
        int width = 0;
        int height = 0;
        QString line = QString::fromUtf8(gst_structure_get_name(structure));
        if (const gchar* format = gst_structure_get_string(structure, "format"))
            line += QLatin1Char('/') + QString::fromUtf8(format);
        if (gst_structure_get_int(structure, "width", &width)
            && gst_structure_get_int(structure, "height", &height))
            line += QStringLiteral(" %1x%2").arg(width).arg(height);
        if (!result.contains(line))
            result << line;
    }
    return result;
}

std::vector<CameraMode> FoundCamera::modes() const
{
    const gst::CapsHandle caps(gst_device_get_caps(device.get()));
    return modesOf(caps.get());
}

CameraDiscovery::CameraDiscovery() = default;

CameraDiscovery::~CameraDiscovery() = default;

void CameraDiscovery::StopWatching::operator()(GstDeviceMonitor* monitor) const
{
    gst_device_monitor_stop(monitor);
    const gst::BusHandle bus(gst_device_monitor_get_bus(monitor));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    gst_object_unref(monitor);
}

std::vector<FoundCamera> CameraDiscovery::list()
{
    const gst::MonitorHandle monitor = videoSourceMonitor();
    return devicesOf(monitor.get());
}

std::vector<FoundCamera> CameraDiscovery::start(Changed added, Changed removed)
{
    m_added = std::move(added);
    m_removed = std::move(removed);
    m_monitor.reset(videoSourceMonitor().release());
    const gst::BusHandle bus(gst_device_monitor_get_bus(m_monitor.get()));
    // Providers post from threads of their own; the news is handed to this
    // object's thread. Nothing else is kept on a bus that nobody reads.
    gst_bus_set_sync_handler(
        bus.get(),
        [](GstBus*, GstMessage* message, gpointer data) {
            const GstMessageType type = GST_MESSAGE_TYPE(message);
            if (type == GST_MESSAGE_DEVICE_ADDED || type == GST_MESSAGE_DEVICE_REMOVED) {
                GstDevice* device = nullptr;
                if (type == GST_MESSAGE_DEVICE_ADDED)
                    gst_message_parse_device_added(message, &device);
                else
                    gst_message_parse_device_removed(message, &device);
                const FoundCamera found = describe(device);
                gst_object_unref(device);
                auto* self = static_cast<CameraDiscovery*>(data);
                QMetaObject::invokeMethod(
                    self, [self, found, type] { self->deliver(type == GST_MESSAGE_DEVICE_ADDED, found); },
                    Qt::QueuedConnection);
            }
            return GST_BUS_DROP;
        },
        this, nullptr);
    if (!gst_device_monitor_start(m_monitor.get()))
        qCWarning(lcCamera, "the device monitor cannot watch for cameras");
    return devicesOf(m_monitor.get());
}

void CameraDiscovery::deliver(bool added, const FoundCamera& camera)
{
    qCInfo(lcCamera, "camera %s: %s (%s)", added ? "plugged in" : "pulled out", qPrintable(camera.name),
        qPrintable(camera.identity()));
    const Changed& changed = added ? m_added : m_removed;
    if (changed)
        changed(camera);
}

} // namespace camera
