#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace camera {

// Shows the live camera's latest frame, scaled to fit with its aspect kept.
// Only the user-interface thread calls it.
class LiveView : public QWidget {
    Q_OBJECT
public:
    explicit LiveView(QWidget* parent = nullptr);

    void setFrame(QImage frame);
    const QImage& frame() const { return m_frame; }
    // How many frames it has been given.
    quint64 framesShown() const { return m_framesShown; }

    // True while "Camera disconnected" is shown over the last frame: no
    // frame came for longer than StallMs.
    bool showsDisconnected() const { return m_disconnected; }
    static constexpr int StallMs = 1000;

    // A view frozen on purpose gets no frames and is not disconnected.
    void setFrozen(bool frozen);

    void setMirrored(bool mirrored);
    void setStretched(bool stretched);

signals:
    // A click on it, or Space while it has the focus.
    void activated();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage m_frame;
    QTimer m_stall;
    bool m_disconnected = false;
    bool m_frozen = false;
    quint64 m_framesShown = 0;
    bool m_mirrored = false;
    bool m_stretched = false;
};

} // namespace camera
