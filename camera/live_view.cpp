#include "camera/live_view.h"

#include "camera/frame_geometry.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace camera {

LiveView::LiveView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::TabFocus);
    m_stall.setSingleShot(true);
    m_stall.setInterval(StallMs);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        m_disconnected = true;
        update();
    });
}

void LiveView::setFrame(QImage frame)
{
    m_frame = std::move(frame);
    ++m_framesShown;
    m_disconnected = false;
    // A camera pulled out sends nothing more: say so rather than freeze.
    if (!m_frozen)
        m_stall.start();
    update();
}

void LiveView::setFrozen(bool frozen)
{
    m_frozen = frozen;
    if (frozen) {
        m_stall.stop();
        m_disconnected = false;
    } else if (!m_frame.isNull()) {
        m_stall.start();
    }
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

void LiveView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    emit activated();
}

void LiveView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Space || event->modifiers() != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    emit activated();
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
    if (m_disconnected) {
        painter.resetTransform();
        painter.fillRect(rect(), QColor(0, 0, 0, 150));
        QFont font = painter.font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.5);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("Camera disconnected"));
    }
}

} // namespace camera
