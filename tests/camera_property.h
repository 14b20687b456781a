#pragma once

// What the tests' GStreamer elements share: the "camera" property, which
// camera (0 bottom, 1 colour) an element stands for, kept in the instance's
// `camera`, and the way from a GObject to the instance.

#include <glib-object.h>

template <typename Instance> Instance* instanceOf(gpointer object)
{
    return reinterpret_cast<Instance*>(object);
}

template <typename Instance> void installCameraProperty(GObjectClass* objectClass, int last = 1)
{
    enum { PropCamera = 1 };
    objectClass->set_property = [](GObject* object, guint id, const GValue* value, GParamSpec* param) {
        if (id == PropCamera)
            instanceOf<Instance>(object)->camera = g_value_get_int(value);
        else
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    };
    objectClass->get_property = [](GObject* object, guint id, GValue* value, GParamSpec* param) {
        if (id == PropCamera)
            g_value_set_int(value, instanceOf<Instance>(object)->camera);
        else
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    };
    g_object_class_install_property(objectClass, PropCamera,
        g_param_spec_int("camera", "Camera", "Camera index (0 bottom, 1 colour, more for plugged ones)", 0,
            last, 0, static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
}
