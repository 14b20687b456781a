#include "camera/pipeline_builder.h"

#include "camera/camera_log.h"
#include "camera/camera_pipeline.h"

namespace camera {

namespace {

std::string appsink()
{
    return std::string("appsink name=") + CameraPipeline::SinkName
        + " max-buffers=1 drop=true sync=false enable-last-sample=false";
}

std::string sinkTail()
{
    return "videoconvert ! video/x-raw,format=BGRx ! " + appsink();
}

bool isJpeg(const std::string& format)
{
    return format.rfind("image/jpeg", 0) == 0;
}

// A description that ends in MJPEG caps ("v4l2src ! image/jpeg,width=...")
// keeps its frames compressed, as a discovered camera's.
bool endsInJpeg(const std::string& description)
{
    const std::size_t bang = description.rfind('!');
    std::string last = description.substr(bang == std::string::npos ? 0 : bang + 1);
    last.erase(0, last.find_first_not_of(" \t"));
    return isJpeg(last);
}

gst::ElementHandle fromDescription(const std::string& description, std::string& why)
{
    gst::ErrorHandle error;
    const std::string tail = endsInJpeg(description) ? appsink() : sinkTail();
    // Parsing may return a pipeline together with an error: both are let go.
    gst::ElementHandle parsed
        = gst::adoptElement(gst_parse_launch((description + " ! " + tail).c_str(), gst::out(error)));
    if (error || !parsed) {
        why = (error ? error->message : "the camera's description cannot be built") + std::string(" in \"")
            + description + "\"";
        return nullptr;
    }
    return parsed;
}

// V4L2 controls fixed at each start, where the source takes them.
void applyControls(GstElement* source, const ChosenCamera& camera, int index)
{
    if (camera.controls.empty())
        return;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "extra-controls"))
        gst_util_set_object_arg(G_OBJECT(source), "extra-controls", ("controls," + camera.controls).c_str());
    else
        qCWarning(lcCamera, "%s takes no controls; \"%s\" is ignored", cameraName(index).c_str(),
            camera.controls.c_str());
}

// Between the device and the sink: the format asked for; MJPEG frames are
// kept as they come.
std::string deviceTail(const std::string& format)
{
    if (format.empty())
        return sinkTail();
    return "capsfilter caps=\"" + format + "\" ! " + (isJpeg(format) ? appsink() : sinkTail());
}

gst::ElementHandle fromDevice(const ChosenCamera& camera, int index, std::string& why)
{
    const std::string identity = camera.identity.toStdString();
    if (!camera.device) {
        why = identity.empty() ? "no camera is plugged in" : "no camera " + identity + " is plugged in";
        return nullptr;
    }
    gst::ElementHandle source = gst::adoptElement(gst_device_create_element(camera.device.get(), nullptr));
    if (!source) {
        why = "camera " + identity + " cannot be opened";
        return nullptr;
    }
    applyControls(source.get(), camera, index);
    const std::string rest = deviceTail(camera.format);
    gst::ErrorHandle error;
    gst::ElementHandle tail
        = gst::adoptElement(gst_parse_bin_from_description(rest.c_str(), TRUE, gst::out(error)));
    if (error || !tail) {
        why = (error ? error->message : "cannot be built") + std::string(" in \"") + rest + "\"";
        return nullptr;
    }
    gst::ElementHandle pipeline = gst::adoptElement(gst_pipeline_new(nullptr));
    gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), tail.get(), nullptr);
    if (!gst_element_link(source.get(), tail.get())) {
        why = "camera " + identity + " cannot deliver \"" + camera.format + "\"";
        return nullptr;
    }
    return pipeline;
}

} // namespace

gst::ElementHandle buildPipeline(const ChosenCamera& camera, int index, std::string& why)
{
    return camera.discovered ? fromDevice(camera, index, why)
                             : fromDescription(camera.source.description, why);
}

} // namespace camera
