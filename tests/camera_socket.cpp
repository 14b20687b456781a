#include "camera_socket.h"

#include "camera_property.h"

#include <gst/base/gstbasetransform.h>

#include <array>
#include <atomic>
#include <stdexcept>

namespace camera_socket {
namespace {

std::array<std::atomic<bool>, camera_socket::Sockets> unplugged {};
std::array<std::atomic<bool>, camera_socket::Sockets> stalled {};

struct Socket {
    GstBaseTransform parent;
    int camera;
};
struct SocketClass {
    GstBaseTransformClass parent;
};

G_DEFINE_TYPE(Socket, camera_socket, GST_TYPE_BASE_TRANSFORM)

constexpr auto self = instanceOf<Socket>;

void camera_socket_init(Socket* socket)
{
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(socket), TRUE);
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(socket), TRUE);
}

gboolean start(GstBaseTransform* transform)
{
    const int camera = self(transform)->camera;
    if (!unplugged[camera])
        return TRUE;
    GST_ELEMENT_ERROR(transform, RESOURCE, NOT_FOUND, ("Camera %d is not plugged in.", camera), (nullptr));
    return FALSE;
}

GstFlowReturn passOn(GstBaseTransform* transform, GstBuffer*)
{
    const int camera = self(transform)->camera;
    if (stalled[camera])
        return GST_BASE_TRANSFORM_FLOW_DROPPED;
    if (!unplugged[camera])
        return GST_FLOW_OK;
    GST_ELEMENT_ERROR(transform, RESOURCE, READ, ("Camera %d was unplugged.", camera), (nullptr));
    return GST_FLOW_ERROR;
}

void camera_socket_class_init(SocketClass* klass)
{
    GObjectClass* object = G_OBJECT_CLASS(klass);
    installCameraProperty<Socket>(object, Sockets - 1);

    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        element, "Test camera socket", "Filter/Video", "A camera that can be unplugged", "ImageMaker");
    static GstStaticPadTemplate sink
        = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    static GstStaticPadTemplate source
        = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    gst_element_class_add_static_pad_template(element, &sink);
    gst_element_class_add_static_pad_template(element, &source);

    GstBaseTransformClass* transform = GST_BASE_TRANSFORM_CLASS(klass);
    transform->start = start;
    transform->transform_ip = passOn;
    transform->transform_ip_on_passthrough = TRUE;
}

} // namespace

void registerElement()
{
    gst_init(nullptr, nullptr);
    if (!gst_element_register(nullptr, "imagemakersocket", GST_RANK_NONE, camera_socket_get_type()))
        throw std::runtime_error("cannot register imagemakersocket");
}

std::string in(const std::string& source, int camera)
{
    return source + " ! imagemakersocket camera=" + std::to_string(camera);
}

void unplug(int camera)
{
    unplugged[camera] = true;
}
void plugIn(int camera)
{
    unplugged[camera] = false;
    stalled[camera] = false;
}

void stall(int camera, bool isStalled)
{
    stalled[camera] = isStalled;
}

} // namespace camera_socket
