#pragma once

#include "bench_driver.h"
#include "processes.h"

#include <QtTest>

namespace e2e {

// Both bitmaps of a sample 24-bit and showing their own camera, both JPEGs
// readable (waited for, the converter runs on its own).
inline void verifyTake(const QString& sample)
{
    const Bitmap colour = readBitmap(Share::file("CLR_" + sample + "_01.bmp"));
    const Bitmap bottom = readBitmap(Share::file("BTM_" + sample + "_01.bmp"));
    QVERIFY2(colour.isBmp && bottom.isBmp, qPrintable(sample));
    QCOMPARE(colour.bitsPerPixel, 24);
    QCOMPARE(bottom.bitsPerPixel, 24);
    QVERIFY2(showsColourCamera(colour.image) && !showsBottomCamera(colour.image), qPrintable(sample));
    QVERIFY2(showsBottomCamera(bottom.image) && !showsColourCamera(bottom.image), qPrintable(sample));
    for (const char* prefix : { "CLR_", "BTM_" }) {
        const QString jpeg = Share::file(prefix + sample + "_01.jpg");
        QVERIFY2(waitUntil([&] { return isJpeg(jpeg); }, 10000), qPrintable(jpeg));
    }
}

// The same without waiting, as a yes or no: bitmaps and JPEGs there, whole,
// each of its own camera.
inline bool takeIsWhole(const QString& sample)
{
    for (const char* prefix : { "CLR_", "BTM_" }) {
        const bool colour = QByteArray(prefix) == "CLR_";
        const Bitmap bitmap = readBitmap(Share::file(prefix + sample + "_01.bmp"));
        const QImage jpeg(Share::file(prefix + sample + "_01.jpg"), "JPEG");
        if (!bitmap.isBmp || bitmap.bitsPerPixel != 24)
            return false;
        for (const QImage& image : { bitmap.image, jpeg })
            if (colour ? !showsColourCamera(image) : !showsBottomCamera(image))
                return false;
    }
    return true;
}

// Only final names in the sample folder once every converter is done: a
// temporary file left then stays.
inline void verifyNoStrayFiles()
{
    QVERIFY(waitUntil([] { return processesMentioning(Share::samplesFolder()) == 0; }, 10000));
    QVERIFY2(Share::strayFiles().isEmpty(), qPrintable(Share::strayFiles().join(' ')));
}

} // namespace e2e
