#include "image_store/bitmap_file.h"

#include <cstring>

namespace image_store {

namespace {

constexpr quint32 HeaderSize = 54;

void put16(uchar* at, quint16 value)
{
    at[0] = uchar(value);
    at[1] = uchar(value >> 8);
}

void put32(uchar* at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uchar(value >> (8 * i));
}

void putHeader(uchar* h, quint32 fileSize, int width, int height, quint32 rowSize)
{
    std::memset(h, 0, HeaderSize);
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, fileSize);
    put32(h + 10, HeaderSize);
    put32(h + 14, 40);
    put32(h + 18, quint32(width));
    put32(h + 22, quint32(height));
    put16(h + 26, 1);
    put16(h + 28, 24);
    put32(h + 34, rowSize * quint32(height));
    put32(h + 38, 3780); // 96 dots per inch
    put32(h + 42, 3780);
}

} // namespace

QByteArray encodeBitmap(const QImage& frame)
{
    const int width = frame.width();
    const int height = frame.height();
    const quint32 rowSize = (quint32(width) * 3 + 3) & ~3u;
    const quint32 fileSize = HeaderSize + rowSize * quint32(height);
    // Not zeroed: every byte but the row padding is written over.
    QByteArray bytes(qsizetype(fileSize), Qt::Uninitialized);
    auto* h = reinterpret_cast<uchar*>(bytes.data());
    putHeader(h, fileSize, width, height, rowSize);
    // Bottom row first, BGRx to BGR.
    for (int y = 0; y < height; ++y) {
        const uchar* in = frame.constScanLine(height - 1 - y);
        uchar* out = h + HeaderSize + qsizetype(y) * rowSize;
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
        std::memset(out, 0, rowSize - quint32(width) * 3);
    }
    return bytes;
}

} // namespace image_store
