#include "capture_window/closer_look.h"

#include "camera/live_view.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

CloserLook::CloserLook(QWidget* owner)
    : QWidget(owner, Qt::Window)
    , m_view(new camera::LiveView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Closer look"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_view->setAccessibleName(QStringLiteral("Picture at full size"));
    m_view->setAccessibleDescription(QStringLiteral("Escape or a click closes it"));
    m_view->setFocus();
    connect(m_view, &camera::LiveView::activated, this, &QWidget::close);
    // As large as the screen lets it be: the live view decodes each frame at
    // the size it is shown, up to the camera's own.
    const QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(screen->availableGeometry());
}

void CloserLook::showPicture(const QImage& picture)
{
    // A still picture: never "Camera disconnected".
    m_view->setFrozen(true);
    m_view->setFrame(picture);
}

void CloserLook::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CloserLook::closeEvent(QCloseEvent* event)
{
    emit closed();
    QWidget::closeEvent(event);
}
