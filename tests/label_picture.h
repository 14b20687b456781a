#pragma once

// A sample as a camera sees it: a label with a barcode on a textured bench,
// turned a few degrees, with the camera's noise.

#define ZX_USE_UTF8 1
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <string>

struct Scene {
    std::string code; // empty: no label
    ZXing::BarcodeFormat format = ZXing::BarcodeFormat::Code128;
    double degrees = 4;
    quint32 bench = 1; // the bench's texture
    quint32 noise = 1; // the camera's noise, frame by frame
    QColor flat; // valid: the whole picture this colour (a covered lens)
};

inline Scene labelled(std::string code, quint32 bench = 1, quint32 noise = 1, double degrees = 4,
    ZXing::BarcodeFormat format = ZXing::BarcodeFormat::Code128)
{
    Scene scene;
    scene.code = std::move(code);
    scene.bench = bench;
    scene.noise = noise;
    scene.degrees = degrees;
    scene.format = format;
    return scene;
}
inline Scene bare(quint32 bench)
{
    return labelled({}, bench);
}
inline Scene flat(QColor colour)
{
    Scene scene;
    scene.flat = colour;
    return scene;
}

inline QImage scenePicture(const Scene& scene, QSize size)
{
    QImage picture(size, QImage::Format_RGB888);
    if (scene.flat.isValid()) {
        picture.fill(scene.flat);
        return picture;
    }
    // The bench: blotches of brown, the same for one `bench`.
    picture.fill(QColor(120, 100, 80));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator texture(scene.bench);
    for (int i = 0; i < 60; ++i) {
        const int shade = texture.bounded(60, 180);
        painter.setBrush(QColor(shade, shade * 5 / 6, shade * 2 / 3));
        painter.setPen(Qt::NoPen);
        const int radius = texture.bounded(size.width() / 40, size.width() / 8);
        painter.drawEllipse(
            QPoint(texture.bounded(size.width()), texture.bounded(size.height())), radius, radius);
    }
    if (!scene.code.empty()) {
        const bool square = scene.format == ZXing::BarcodeFormat::DataMatrix
            || scene.format == ZXing::BarcodeFormat::QRCode;
        const int unit = size.width() / 640; // 2 at 1280, 3 at 1920
        const ZXing::BitMatrix bits
            = ZXing::MultiFormatWriter(scene.format).setMargin(0).encode(scene.code, 0, 0);
        const int height = square ? bits.height() : 50;
        QImage code(bits.width(), height, QImage::Format_Grayscale8);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < bits.width(); ++x)
                code.setPixel(x, y, bits.get(x, square ? y : 0) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        const QSize drawn(code.width() * unit * (square ? 3 : 1), code.height() * unit * (square ? 3 : 1));
        painter.translate(size.width() * 0.45, size.height() * 0.55);
        painter.rotate(scene.degrees);
        painter.setBrush(QColor(245, 245, 240));
        painter.drawRect(QRect(QPoint(-drawn.width() / 2 - 30 * unit, -drawn.height() / 2 - 20 * unit),
            drawn + QSize(60 * unit, 40 * unit)));
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRect(QPoint(-drawn.width() / 2, -drawn.height() / 2), drawn), code);
    }
    painter.end();
    QRandomGenerator noise(scene.noise);
    for (int y = 0; y < size.height(); ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < size.width() * 3; ++x)
            row[x] = uchar(std::clamp(int(row[x]) + int(noise.bounded(9)) - 4, 0, 255));
    }
    return picture;
}
