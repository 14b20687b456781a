#include "live_view.h"

#include "frame_geometry.h"

#include <QPainter>

namespace camera {

LiveView::LiveView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::TabFocus);
}

void LiveView::setFrame(QImage frame)
{
    m_frame = std::move(frame);
    ++m_framesShown;
    update();
}

void LiveView::setMirrored(bool mirrored)
{
    m_mirrored = mirrored;
    update();
}

void LiveView::setStretched(bool stretched)
{
    m_stretched = stretched;
    update();
}

void LiveView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_frame.isNull())
        return;
    const QRect target = m_stretched ? rect() : fitRect(m_frame.size(), rect());
    if (m_mirrored) {
        painter.translate(width(), 0);
        painter.scale(-1, 1);
    }
    painter.drawImage(target, m_frame);
}

} // namespace camera
