#include "bitmap_file.h"

#include "camera_control.h"
#include "image_store.h"
#include "share_worker.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace camera {

namespace {

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

[[noreturn]] void fail(const QString& what, const QString& path, int error)
{
    throw CameraError(what.toStdString() + " " + path.toStdString() + ": " + std::strerror(error));
}

} // namespace

void writeBitmapFile(const QString& localPath, const uchar* bgrx, int width, int height, qsizetype stride)
{
    const QByteArray target = QFile::encodeName(localPath);
    struct stat info { };
    if (::lstat(target.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        throw CameraError(
            "Cannot write " + localPath.toStdString() + ": it exists and is not a regular file");

    constexpr quint32 HeaderSize = 54;
    const quint32 rowSize = (quint32(width) * 3 + 3) & ~3u;
    const quint32 fileSize = HeaderSize + rowSize * quint32(height);
    // Not zeroed: every byte but the row padding is written over.
    std::unique_ptr<uchar[]> bytes(new uchar[fileSize]);
    uchar* h = bytes.get();
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
    // Bottom row first, BGRx to BGR.
    for (int y = 0; y < height; ++y) {
        const uchar* in = bgrx + qsizetype(height - 1 - y) * stride;
        uchar* out = h + HeaderSize + qsizetype(y) * rowSize;
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
        for (quint32 pad = quint32(width) * 3; pad < rowSize; ++pad)
            h[HeaderSize + qsizetype(y) * rowSize + pad] = 0;
    }

    const QString temporary = image_store::temporaryNameOf(localPath);
    const QByteArray temp = QFile::encodeName(temporary);
    // One left by a writer that was killed is replaced, not piled up.
    if (::unlink(temp.constData()) != 0 && errno != ENOENT)
        fail(QStringLiteral("Cannot replace"), temporary, errno);
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        fail(QStringLiteral("Cannot write"), localPath, errno);
    const uchar* data = bytes.get();
    size_t left = fileSize;
    int error = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        data += n;
        left -= size_t(n);
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    // A capture that gave up on a hung server was told it failed: its still
    // must not appear once the server answers again.
    if (error == 0 && image_store::ShareWorker::abandoned()) {
        ::unlink(temp.constData());
        throw CameraError("Gave up writing " + localPath.toStdString() + ": the file server did not answer");
    }
    if (error == 0 && ::rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.constData());
        fail(QStringLiteral("Cannot write"), localPath, error);
    }
}

} // namespace camera
