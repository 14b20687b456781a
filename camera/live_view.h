#pragma once

#include <QImage>
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
    // How many frames it has been given; tests and benchmarks read it.
    quint64 framesShown() const { return m_framesShown; }

    void setMirrored(bool mirrored);
    void setStretched(bool stretched);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_frame;
    quint64 m_framesShown = 0;
    bool m_mirrored = false;
    bool m_stretched = false;
};

} // namespace camera
