#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace artwork {

namespace {

const QColor Face(242, 240, 229);
const QColor Ink(60, 52, 40);
const QColor Orange(214, 141, 0);

QFont faceFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

void drawWebcam(QPainter& p, const QRectF& box)
{
    // Stand.
    const qreal cx = box.center().x();
    QPainterPath stand;
    stand.moveTo(cx - 3, box.top() + box.height() * 0.70);
    stand.lineTo(cx + 3, box.top() + box.height() * 0.70);
    stand.lineTo(cx + 9, box.bottom() - 2);
    stand.lineTo(cx - 9, box.bottom() - 2);
    stand.closeSubpath();
    QLinearGradient standShade(box.left(), 0, box.right(), 0);
    standShade.setColorAt(0, QColor(70, 70, 76));
    standShade.setColorAt(1, QColor(140, 140, 150));
    p.setPen(QPen(QColor(40, 40, 44), 0.8));
    p.setBrush(standShade);
    p.drawPath(stand);
    p.drawRoundedRect(QRectF(cx - 11, box.bottom() - 3.5, 22, 3), 1.5, 1.5);

    // Body: a ball.
    const qreal r = box.height() * 0.36;
    const QPointF c(cx, box.top() + r + 1);
    QRadialGradient body(c - QPointF(r * 0.4, r * 0.45), r * 1.4);
    body.setColorAt(0, QColor(235, 235, 240));
    body.setColorAt(0.45, QColor(150, 152, 160));
    body.setColorAt(1, QColor(45, 45, 52));
    p.setPen(QPen(QColor(30, 30, 34), 0.8));
    p.setBrush(body);
    p.drawEllipse(c, r, r);

    // Lens with a highlight.
    const qreal lr = r * 0.55;
    QRadialGradient glass(c - QPointF(lr * 0.3, lr * 0.3), lr);
    glass.setColorAt(0, QColor(90, 140, 210));
    glass.setColorAt(0.6, QColor(20, 40, 90));
    glass.setColorAt(1, QColor(5, 10, 25));
    p.setBrush(glass);
    p.setPen(QPen(QColor(15, 15, 18), 1.2));
    p.drawEllipse(c, lr, lr);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(c - QPointF(lr * 0.35, lr * 0.35), lr * 0.22, lr * 0.22);

    // Status light.
    p.setBrush(QColor(40, 200, 60));
    p.drawEllipse(c + QPointF(r * 0.62, -r * 0.55), 1.3, 1.3);
}

void drawFilmRoll(QPainter& p, const QRectF& box)
{
    // Film strip leaving the canister, with sprocket holes.
    const QRectF strip(box.left() + box.width() * 0.45, box.top() + box.height() * 0.30, box.width() * 0.55,
        box.height() * 0.45);
    p.setPen(QPen(QColor(20, 20, 20), 0.8));
    p.setBrush(QColor(48, 38, 30));
    p.drawRect(strip);
    p.setPen(Qt::NoPen);
    p.setBrush(Face);
    for (qreal x = strip.left() + 2; x < strip.right() - 2; x += 4.5) {
        p.drawRect(QRectF(x, strip.top() + 1.2, 2.2, 2));
        p.drawRect(QRectF(x, strip.bottom() - 3.2, 2.2, 2));
    }
    p.setBrush(QColor(190, 120, 40, 190));
    p.drawRect(QRectF(strip.left() + 3, strip.top() + 4.5, strip.width() - 6, strip.height() - 9));

    // Canister: a cylinder seen from the side.
    const QRectF can(box.left() + 2, box.top() + 3, box.width() * 0.5, box.height() - 6);
    QLinearGradient metal(can.left(), 0, can.right(), 0);
    metal.setColorAt(0, QColor(60, 60, 64));
    metal.setColorAt(0.35, QColor(215, 215, 220));
    metal.setColorAt(0.7, QColor(120, 120, 128));
    metal.setColorAt(1, QColor(50, 50, 54));
    p.setPen(QPen(QColor(25, 25, 28), 0.8));
    p.setBrush(metal);
    p.drawRoundedRect(can, 3, 3);
    // Label band.
    p.setBrush(Orange);
    p.drawRect(QRectF(can.left(), can.top() + can.height() * 0.28, can.width(), can.height() * 0.44));
    // Spool ends.
    p.setBrush(QColor(35, 35, 38));
    p.drawRect(QRectF(can.center().x() - 2.5, can.top() - 2.5, 5, 3));
    p.drawRect(QRectF(can.center().x() - 2.5, can.bottom() - 0.5, 5, 3));
}

} // namespace

QImage viewButtonFace(const QString& view)
{
    QImage image(ViewFaceSize, QImage::Format_RGB32);
    image.fill(Face);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawWebcam(p, QRectF(3, 2, 30, 34));

    p.setPen(Ink);
    p.setFont(faceFont(11, false));
    p.drawText(QRectF(36, 3, 52, 15), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("View"));
    p.setPen(QColor(150, 80, 0));
    p.setFont(faceFont(view.size() > 5 ? 12 : 13, true));
    p.drawText(QRectF(36, 17, 54, 18), Qt::AlignLeft | Qt::AlignVCenter, view);
    return image;
}

QImage captureButtonFace()
{
    QImage image(CaptureFaceSize, QImage::Format_RGB32);
    image.fill(Face);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawFilmRoll(p, QRectF(3, 4, 46, 37));

    p.setPen(Ink);
    p.setFont(faceFont(13, true));
    p.drawText(QRectF(52, 4, 78, 19), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Take"));
    p.setPen(QColor(150, 80, 0));
    p.drawText(QRectF(52, 22, 78, 19), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Picture"));
    return image;
}

QImage headerBanner()
{
    QImage image(BannerSize, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fade(0, 0, BannerSize.width(), 0);
    fade.setColorAt(0.0, QColor(168, 84, 0));
    fade.setColorAt(0.30, QColor(204, 120, 20));
    fade.setColorAt(0.75, QColor(236, 206, 160));
    fade.setColorAt(1.0, QColor(247, 238, 218));
    p.fillRect(image.rect(), fade);

    // Diagonal stripes that thin out to the right.
    const int stripeEnd = 110;
    for (int x = -BannerSize.height(); x < stripeEnd; x += 7) {
        const qreal fadeOut = 1.0 - qreal(qMax(0, x)) / stripeEnd;
        p.setPen(QPen(QColor(255, 226, 170, int(150 * fadeOut)), 2.2));
        p.drawLine(QPointF(x, BannerSize.height()), QPointF(x + BannerSize.height(), 0));
    }
    // A thin shade along the bottom edge gives the strip some depth.
    p.setPen(QColor(120, 60, 0, 120));
    p.drawLine(0, BannerSize.height() - 1, BannerSize.width(), BannerSize.height() - 1);
    return image;
}

} // namespace artwork
