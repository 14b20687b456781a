#include "plugged_cameras.h"

#include "camera_socket.h"

#include <gst/gst.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace plugged_cameras {
namespace {

struct TestDevice {
    GstDevice parent;
    int socket;
    guint colour;
    char* modes;
    char* bus;
};
struct TestDeviceClass {
    GstDeviceClass parent;
};
G_DEFINE_TYPE(TestDevice, test_device, GST_TYPE_DEVICE)

void test_device_init(TestDevice*)
{
}

GstElement* createElement(GstDevice* device, const gchar* name)
{
    auto* self = reinterpret_cast<TestDevice*>(device);
    const std::string description
        = "imagemakeruvcsrc name=uvc ! imagemakersocket camera=" + std::to_string(self->socket);
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, nullptr);
    if (!bin)
        return nullptr;
    GstElement* source = gst_bin_get_by_name(GST_BIN(bin), "uvc");
    g_object_set(source, "camera", self->socket, "colour", self->colour, "modes", self->modes, "bus",
        self->bus, nullptr);
    gst_object_unref(source);
    if (name)
        gst_object_set_name(GST_OBJECT(bin), name);
    return bin;
}

void finalizeDevice(GObject* object)
{
    g_free(reinterpret_cast<TestDevice*>(object)->modes);
    g_free(reinterpret_cast<TestDevice*>(object)->bus);
    G_OBJECT_CLASS(test_device_parent_class)->finalize(object);
}

void test_device_class_init(TestDeviceClass* klass)
{
    GST_DEVICE_CLASS(klass)->create_element = createElement;
    G_OBJECT_CLASS(klass)->finalize = finalizeDevice;
}

struct TestProvider {
    GstDeviceProvider parent;
};
struct TestProviderClass {
    GstDeviceProviderClass parent;
};
G_DEFINE_TYPE(TestProvider, test_provider, GST_TYPE_DEVICE_PROVIDER)

struct Plugged {
    std::string serial;
    guint colour = 0;
    int socket = 0;
    std::string modes;
    std::string bus;
    GstDevice* device = nullptr; // one reference of ours
};

guint colourNamed(const std::string& name)
{
    static const std::map<std::string, guint> colours { { "red", 0xff0000 }, { "green", 0x00ff00 },
        { "blue", 0x0000ff }, { "yellow", 0xffff00 }, { "white", 0xffffff }, { "black", 0x000000 } };
    const auto it = colours.find(name);
    if (it == colours.end())
        throw std::invalid_argument("no test camera colour " + name);
    return it->second;
}

std::mutex mutex;
std::map<std::string, Plugged> plugged; // by port
std::vector<GstDeviceProvider*> started;

GstDevice* makeDevice(const std::string& port, const Plugged& camera)
{
    GstStructure* properties = gst_structure_new("test-camera", "device.bus_path", G_TYPE_STRING,
        port.c_str(), "device.serial", G_TYPE_STRING, camera.serial.c_str(), "device.path", G_TYPE_STRING,
        ("/dev/video" + std::to_string(camera.socket)).c_str(), nullptr);
    GstCaps* caps = gst_caps_from_string(camera.modes.c_str());
    const std::string name = "Test camera " + camera.serial;
    auto* device = static_cast<TestDevice*>(g_object_new(test_device_get_type(), "display-name", name.c_str(),
        "caps", caps, "device-class", "Video/Source", "properties", properties, nullptr));
    gst_caps_unref(caps);
    gst_structure_free(properties);
    device->socket = camera.socket;
    device->colour = camera.colour;
    device->modes = g_strdup(camera.modes.c_str());
    device->bus = camera.bus.empty() ? nullptr : g_strdup(camera.bus.c_str());
    return GST_DEVICE(gst_object_ref_sink(device));
}

GList* probe(GstDeviceProvider*)
{
    std::lock_guard lock(mutex);
    GList* devices = nullptr;
    for (const auto& [port, camera] : plugged)
        devices = g_list_append(devices, gst_object_ref(camera.device));
    return devices;
}

gboolean startProvider(GstDeviceProvider* provider)
{
    std::vector<GstDevice*> present;
    {
        std::lock_guard lock(mutex);
        started.push_back(provider);
        for (const auto& [port, camera] : plugged)
            present.push_back(GST_DEVICE(gst_object_ref(camera.device)));
    }
    for (GstDevice* device : present) {
        gst_device_provider_device_add(provider, device);
        gst_object_unref(device);
    }
    return TRUE;
}

void stopProvider(GstDeviceProvider* provider)
{
    std::lock_guard lock(mutex);
    started.erase(std::remove(started.begin(), started.end(), provider), started.end());
}

void test_provider_init(TestProvider*)
{
}

void test_provider_class_init(TestProviderClass* klass)
{
    GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = probe;
    provider->start = startProvider;
    provider->stop = stopProvider;
    gst_device_provider_class_set_static_metadata(
        provider, "Test cameras", "Video/Source", "Cameras a test plugs in and pulls out", "ImageMaker");
}

std::vector<GstDeviceProvider*> watching()
{
    std::vector<GstDeviceProvider*> providers;
    for (GstDeviceProvider* provider : started)
        providers.push_back(GST_DEVICE_PROVIDER(gst_object_ref(provider)));
    return providers;
}

} // namespace

void registerProvider()
{
    camera_socket::registerElement();
    uvc_source::registerElement();
    if (!gst_device_provider_register(
            nullptr, "imagemakertestcameras", GST_RANK_PRIMARY, test_provider_get_type()))
        throw std::runtime_error("cannot register the test camera provider");
}

void plugIn(const std::string& port, const std::string& serial, const std::string& colour, int socket,
    const std::string& modes, const std::string& bus)
{
    if (socket < 2 || socket >= camera_socket::Sockets)
        throw std::invalid_argument("test cameras use sockets 2 to 7");
    camera_socket::plugIn(socket);
    GstDevice* device = nullptr;
    std::vector<GstDeviceProvider*> providers;
    {
        std::lock_guard lock(mutex);
        Plugged camera { serial, colourNamed(colour), socket, modes, bus, nullptr };
        camera.device = makeDevice(port, camera);
        device = GST_DEVICE(gst_object_ref(camera.device));
        plugged[port] = camera;
        providers = watching();
    }
    for (GstDeviceProvider* provider : providers) {
        gst_device_provider_device_add(provider, GST_DEVICE(gst_object_ref(device)));
        gst_object_unref(provider);
    }
    gst_object_unref(device);
}

void pullOut(const std::string& port)
{
    Plugged camera;
    std::vector<GstDeviceProvider*> providers;
    {
        std::lock_guard lock(mutex);
        const auto it = plugged.find(port);
        if (it == plugged.end())
            return;
        camera = it->second;
        plugged.erase(it);
        providers = watching();
    }
    camera_socket::unplug(camera.socket);
    for (GstDeviceProvider* provider : providers) {
        gst_device_provider_device_remove(provider, camera.device);
        gst_object_unref(provider);
    }
    gst_object_unref(camera.device);
}

void pullOutAll()
{
    std::vector<std::string> ports;
    {
        std::lock_guard lock(mutex);
        for (const auto& [port, camera] : plugged)
            ports.push_back(port);
    }
    for (const std::string& port : ports)
        pullOut(port);
}

} // namespace plugged_cameras
