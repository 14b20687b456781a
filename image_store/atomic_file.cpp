#include "image_store/atomic_file.h"

#include "image_store/store_error.h"
#include "image_store/temporary_name.h"
#include "image_store/unique_fd.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace image_store {

namespace {

[[noreturn]] void fail(const char* what, const QByteArray& path, int error)
{
    throw StoreError(std::string(what) + " " + path.toStdString() + ": " + std::strerror(error));
}

// Returns 0 or the error of the first write or of the close.
int writeAll(UniqueFd fd, const char* data, size_t left)
{
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        left -= size_t(n);
    }
    return fd.close() != 0 ? errno : 0;
}

} // namespace

FileIdentity replaceFile(const QString& localPath, const QByteArray& bytes, const CancelToken& token)
{
    const QByteArray target = QFile::encodeName(localPath);
    struct stat info { };
    if (::lstat(target.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        throw StoreError("Cannot write " + target.toStdString() + ": it exists and is not a regular file");

    const QByteArray temp = QByteArray::fromStdString(temporaryNameOf(target.toStdString()));
    // One left by a writer that was killed is replaced, not piled up.
    if (::unlink(temp.constData()) != 0 && errno != ENOENT)
        fail("Cannot replace", temp, errno);
    UniqueFd fd(::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) {
        // A server may have made the file all the same: this bench's name.
        const int error = errno;
        removeTemporary(temp.constData());
        fail("Cannot write", target, error);
    }
    int error = ::fstat(fd.get(), &info) == 0 ? 0 : errno;
    const FileIdentity written = FileIdentity::of(info);
    if (error == 0)
        error = writeAll(std::move(fd), bytes.constData(), size_t(bytes.size()));
    // A capture that gave up on a hung server was told it failed: its still
    // must not appear once the server answers again.
    if (error == 0 && token.cancelled()) {
        removeTemporary(temp.constData());
        throw StoreError("Gave up writing " + target.toStdString() + ": the file server did not answer");
    }
    if (error == 0 && ::rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        removeTemporary(temp.constData());
        fail("Cannot write", target, error);
    }
    // The rename itself may be what hung; what it put in place goes again,
    // if it is still there.
    if (token.cancelled()) {
        if (::lstat(target.constData(), &info) == 0 && FileIdentity::of(info) == written)
            ::unlink(target.constData());
        throw StoreError("Gave up writing " + target.toStdString() + ": the file server did not answer");
    }
    return written;
}

} // namespace image_store
