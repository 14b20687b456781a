#pragma once

#include <QWidget>

namespace camera {
class LiveView;
}

// A picture at its own resolution, fitted to the screen, in a window of its
// own: the live camera, to judge focus, or a JPEG of the picture panel.
// Escape, a click or the window's close button ends it.
class CloserLook final : public QWidget {
    Q_OBJECT
public:
    explicit CloserLook(QWidget* owner);

    // Where the live camera's frames go while it is open.
    camera::LiveView* view() const { return m_view; }
    void showPicture(const QImage& picture);

signals:
    void closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    camera::LiveView* m_view;
};
