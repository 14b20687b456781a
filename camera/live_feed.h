#pragma once

#include "camera/gst_handles.h"

#include <QObject>

#include <atomic>
#include <functional>

namespace camera {

class LiveView;

// Takes the live camera's frames to the view. A frame is announced from a
// streaming thread; a queued call shows the latest one on the view's thread,
// and no second call is queued while one is pending, so a slow window
// skips frames instead of piling them up.
class LiveFeed final : public QObject {
    Q_OBJECT
public:
    // Gives the latest frame of camera `index`.
    using LatestFrame = std::function<gst::SampleHandle(int index)>;
    explicit LiveFeed(LatestFrame latest);

    void attach(LiveView* view);
    void setOptions(bool mirrored, bool stretched);
    // A disabled feed leaves the view frozen on its last frame.
    void setEnabled(bool enabled);

    // -1 until a camera is live.
    int live() const { return m_live.load(); }
    void setLive(int index) { m_live = index; }

    // Any thread: camera `index` has a new frame.
    void frameArrived(int index);
    // Shows the live camera's latest frame now.
    void present();

private:
    void applyOptions();

    LatestFrame m_latest;
    LiveView* m_view = nullptr;
    std::atomic<int> m_live { -1 };
    std::atomic<bool> m_enabled { true };
    std::atomic<bool> m_pending { false };
    bool m_mirror = false;
    bool m_stretch = false;
};

} // namespace camera
