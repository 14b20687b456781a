#include "camera/live_feed.h"

#include "camera/frame_image.h"
#include "camera/live_view.h"

namespace camera {

LiveFeed::LiveFeed(LatestFrame latest)
    : m_latest(std::move(latest))
{
}

void LiveFeed::attach(LiveView* view)
{
    m_view = view;
    applyOptions();
}

void LiveFeed::setOptions(bool mirrored, bool stretched)
{
    m_mirror = mirrored;
    m_stretch = stretched;
    applyOptions();
}

void LiveFeed::setEnabled(bool enabled)
{
    m_enabled = enabled;
    applyOptions();
}

void LiveFeed::applyOptions()
{
    if (!m_view)
        return;
    m_view->setMirrored(m_mirror);
    m_view->setStretched(m_stretch);
    m_view->setFrozen(!m_enabled.load());
}

void LiveFeed::frameArrived(int index)
{
    if (index == m_live.load() && m_enabled.load() && !m_pending.exchange(true))
        QMetaObject::invokeMethod(this, &LiveFeed::present, Qt::QueuedConnection);
}

void LiveFeed::present()
{
    m_pending = false;
    const int live = m_live.load();
    if (!m_view || !m_enabled.load() || live < 0)
        return;
    // A compressed frame is decoded no larger than the view shows it.
    if (const gst::SampleHandle sample = m_latest(live))
        m_view->setFrame(imageOf(sample, m_view->size() * m_view->devicePixelRatio()));
}

} // namespace camera
