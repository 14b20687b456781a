#pragma once

// Owning handles for the GStreamer and GLib objects the camera holds: each
// lets its object go when it goes, on every path out.

#include <gst/gst.h>

#include <memory>
#include <mutex>

namespace camera::gst {

// GStreamer is started once, by whichever of its users comes first.
inline void ensureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct SampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct StringFree {
    void operator()(gchar* text) const { g_free(text); }
};
struct CapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct StructureFree {
    void operator()(GstStructure* structure) const { gst_structure_free(structure); }
};

using ElementHandle = std::unique_ptr<GstElement, ObjectUnref>;
using BusHandle = std::unique_ptr<GstBus, ObjectUnref>;
using SampleHandle = std::unique_ptr<GstSample, SampleUnref>;
using ErrorHandle = std::unique_ptr<GError, ErrorFree>;
using StringHandle = std::unique_ptr<gchar, StringFree>;
using CapsHandle = std::unique_ptr<GstCaps, CapsUnref>;
using StructureHandle = std::unique_ptr<GstStructure, StructureFree>;
using MonitorHandle = std::unique_ptr<GstDeviceMonitor, ObjectUnref>;
// A device is shared by the list it was found in and the camera that uses it.
using DeviceRef = std::shared_ptr<GstDevice>;

inline DeviceRef refDevice(GstDevice* device)
{
    return device ? DeviceRef(GST_DEVICE(gst_object_ref(device)), ObjectUnref()) : nullptr;
}

// Takes a newly made element, whose reference may be floating.
inline ElementHandle adoptElement(GstElement* element)
{
    return ElementHandle(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

inline SampleHandle refSample(const SampleHandle& sample)
{
    return SampleHandle(sample ? gst_sample_ref(sample.get()) : nullptr);
}

// A GLib out-parameter filled straight into a handle: f(&out(handle)).
template <typename Handle> class Out {
public:
    explicit Out(Handle& handle)
        : m_handle(handle)
    {
    }
    ~Out() { m_handle.reset(m_raw); }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    operator typename Handle::pointer *() { return &m_raw; }

private:
    Handle& m_handle;
    typename Handle::pointer m_raw = nullptr;
};
template <typename Handle> Out<Handle> out(Handle& handle)
{
    return Out<Handle>(handle);
}

} // namespace camera::gst
