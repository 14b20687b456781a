#pragma once

// One frame a period, as a camera sends them: the wait of the tests' live
// sources, which their element's unlock cuts short. Lives zeroed in a GObject
// instance, set up by init() and torn down by clear().

#include <gst/base/gstbasesrc.h>

struct FramePacer {
    GMutex lock;
    GCond wake;
    gint64 due;
    gboolean flushing;

    void init()
    {
        g_mutex_init(&lock);
        g_cond_init(&wake);
    }
    void clear()
    {
        g_mutex_clear(&lock);
        g_cond_clear(&wake);
    }
    // The next frame comes at once.
    void restart() { due = 0; }
    // Until the next frame is due; false when the element is unlocked.
    bool waitForNext(gint64 periodUs)
    {
        g_mutex_lock(&lock);
        if (due == 0)
            due = g_get_monotonic_time();
        while (!flushing && g_get_monotonic_time() < due)
            g_cond_wait_until(&wake, &lock, due);
        const bool go = !flushing;
        due += periodUs;
        g_mutex_unlock(&lock);
        return go;
    }
    void unlock()
    {
        g_mutex_lock(&lock);
        flushing = TRUE;
        g_cond_broadcast(&wake);
        g_mutex_unlock(&lock);
    }
    void unlockStop()
    {
        g_mutex_lock(&lock);
        flushing = FALSE;
        g_mutex_unlock(&lock);
    }
};

template <typename Instance> FramePacer& pacerOf(GstBaseSrc* base)
{
    return reinterpret_cast<Instance*>(base)->pacer;
}

// Makes the pacer in `Instance::pacer` restart with each start of the source
// and give way to its unlock.
template <typename Instance> void pacedBy(GstBaseSrcClass* klass)
{
    klass->start = [](GstBaseSrc* base) {
        pacerOf<Instance>(base).restart();
        return gboolean(TRUE);
    };
    klass->unlock = [](GstBaseSrc* base) {
        pacerOf<Instance>(base).unlock();
        return gboolean(TRUE);
    };
    klass->unlock_stop = [](GstBaseSrc* base) {
        pacerOf<Instance>(base).unlockStop();
        return gboolean(TRUE);
    };
}
