#pragma once

// The fields of a bitmap's header the tests look at, as stored in the file.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstring>

struct BmpHeader {
    bool isBmp = false;
    qint32 width = 0;
    // Positive: rows stored bottom-up.
    qint32 height = 0;
    quint16 bitsPerPixel = 0;
};

inline BmpHeader readBmpHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(30);
    if (head.size() < 30 || !head.startsWith("BM"))
        return {};
    BmpHeader h;
    h.isBmp = true;
    std::memcpy(&h.width, head.constData() + 18, 4);
    std::memcpy(&h.height, head.constData() + 22, 4);
    std::memcpy(&h.bitsPerPixel, head.constData() + 28, 2);
    return h;
}
