#include "converter/convert.h"

#include "image_store/temporary_name.h"
#include "image_store/unique_fd.h"

#include <turbojpeg.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace converter {

namespace {

constexpr const char* Usage = "usage: imgcon32.exe SOURCE.bmp -j --o DEST.jpg";
constexpr int RenameAttempts = 3;
// Header and row padding aside, a 32-bit bitmap of the largest picture.
constexpr std::uint64_t MaxSourceBytes = MaxPixels * 4 + 64 * 1024 * 1024;

struct Failure {
    std::string message;
    // The share's doing, not the bitmap's: worth trying again.
    bool shareFailed = false;
};

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

// From errno. A name that is missing, too long or of the wrong kind stays
// so; anything else is the share's and may pass.
Failure systemError(const std::string& what, const std::string& path)
{
    const int error = errno;
    const bool lasting = error == ENOENT || error == ENOTDIR || error == ELOOP || error == ENAMETOOLONG
        || error == EISDIR || error == EFBIG;
    return Failure { what + " " + path + ": " + std::strerror(error), !lasting };
}

// Device, inode, size and modification time: a file replaced by a rename,
// or written again, has another identity.
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};
    bool operator==(const Identity& o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size
            && modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

Identity identityOf(const struct stat& info)
{
    return Identity { true, info.st_dev, info.st_ino, info.st_size, info.st_mtim };
}

// Of the name itself, never of what a link points to. A name that is not
// there has no identity; one the share cannot tell about is a failure, not
// "changed".
Identity identityAt(const std::string& path)
{
    struct stat info { };
    if (::lstat(path.c_str(), &info) == 0)
        return identityOf(info);
    if (errno == ENOENT || errno == ENOTDIR)
        return Identity {};
    throw systemError("cannot check", path);
}

std::string baseOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

using image_store::temporaryNameOf;
using image_store::UniqueFd;

// The bitmap as read: its bytes and the identity they were read from.
struct Source {
    UniqueFd file;
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;
    Identity identity;
};

void readSource(const std::string& path, Source& source)
{
    // Not blocking: a FIFO planted under the bitmap's name must not hang us.
    source.file.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!source.file)
        throw systemError("cannot open", path);
    struct stat info { };
    if (::fstat(source.file.get(), &info) != 0)
        throw systemError("cannot read", path);
    if (!S_ISREG(info.st_mode))
        throw Failure { "not a regular file: " + path };
    source.identity = identityOf(info);
    source.size = static_cast<size_t>(info.st_size);
    if (source.size > MaxSourceBytes)
        throw Failure { "too large for a picture of at most " + std::to_string(MaxPixels)
            + " pixels: " + path };
    // Not zeroed first: every byte is read over.
    source.bytes.reset(new unsigned char[source.size > 0 ? source.size : 1]);
    size_t got = 0;
    while (got < source.size) {
        const ssize_t n = ::pread(
            source.file.get(), source.bytes.get() + got, source.size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw systemError("cannot read", path);
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    source.size = got;
    if (got < 2 || source.bytes[0] != 'B' || source.bytes[1] != 'M')
        throw Failure { "not a BMP file: " + path };
}

std::uint32_t le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Uncompressed 24- and 32-bit bitmaps, bottom-up or top-down, compressed
// straight from the bytes read. Returns false for other kinds, which
// TurboJPEG's own loader reads.
bool compressPlainBitmap(tjhandle compressor, const Source& source, const std::string& path, TjBuffer& jpeg,
    unsigned long& jpegSize)
{
    const unsigned char* b = source.bytes.get();
    if (source.size < 54 || le32(b + 14) < 40)
        return false;
    const auto width = static_cast<std::int32_t>(le32(b + 18));
    const auto height = static_cast<std::int32_t>(le32(b + 22));
    const unsigned bits = b[28] | (b[29] << 8);
    const std::uint32_t compression = le32(b + 30);
    if (compression != 0 || (bits != 24 && bits != 32))
        return false;
    if (width <= 0 || height == 0 || height == INT32_MIN)
        throw Failure { "not a picture (" + std::to_string(width) + " by " + std::to_string(height)
            + "): " + path };
    const std::uint64_t rows
        = static_cast<std::uint64_t>(height < 0 ? -static_cast<std::int64_t>(height) : height);
    if (static_cast<std::uint64_t>(width) * rows > MaxPixels)
        throw Failure { "too large: " + std::to_string(width) + " by " + std::to_string(rows)
            + " pixels is over " + std::to_string(MaxPixels) + ": " + path };
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits / 8 + 3) / 4 * 4;
    const std::uint64_t offset = le32(b + 10);
    if (offset > source.size || stride * rows > source.size - offset)
        throw Failure { "the bitmap is cut short: " + path };

    unsigned char* out = nullptr;
    const int status = tjCompress2(compressor, b + offset, width, static_cast<int>(stride),
        static_cast<int>(rows), bits == 24 ? TJPF_BGR : TJPF_BGRX, &out, &jpegSize, TJSAMP_420, JpegQuality,
        height > 0 ? TJFLAG_BOTTOMUP : 0);
    jpeg.reset(out);
    if (status != 0)
        throw Failure { "cannot encode " + path + ": " + tjGetErrorStr2(compressor) };
    return true;
}

void compressOtherBitmap(tjhandle compressor, const Source& source, const std::string& path, TjBuffer& jpeg,
    unsigned long& jpegSize)
{
    // The file already opened and checked, not the name again.
    const std::string opened = "/proc/self/fd/" + std::to_string(source.file.get());
    int width = 0;
    int height = 0;
    int pixelFormat = TJPF_UNKNOWN;
    TjBuffer pixels(tjLoadImage(opened.c_str(), &width, 1, &height, &pixelFormat, 0));
    if (!pixels)
        throw Failure { "cannot read " + path + ": " + tjGetErrorStr2(nullptr) };
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > MaxPixels)
        throw Failure { "too large: " + std::to_string(width) + " by " + std::to_string(height)
            + " pixels: " + path };
    const int subsampling = pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_420;
    unsigned char* out = nullptr;
    const int status = tjCompress2(compressor, pixels.get(), width, 0, height, pixelFormat, &out, &jpegSize,
        subsampling, JpegQuality, 0);
    jpeg.reset(out);
    if (status != 0)
        throw Failure { "cannot encode " + path + ": " + tjGetErrorStr2(compressor) };
}

// Removes the temporary file unless the rename took it.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& dest)
        : m_path(temporaryNameOf(dest))
    {
        // One left by a converter that was killed goes; so does one of a
        // conversion still at work, whose rename then finds it gone.
        for (int attempt = 0; attempt < 2 && !m_fd; ++attempt) {
            if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
                throw systemError("cannot replace", m_path);
            m_fd.reset(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (!m_fd && errno != EEXIST)
                break;
        }
        if (!m_fd) {
            // A server may have made the file all the same: this bench's name.
            const Failure failure = systemError("cannot create", m_path);
            image_store::removeTemporary(m_path.c_str());
            throw failure;
        }
        struct stat info { };
        if (::fstat(m_fd.get(), &info) != 0) {
            const Failure failure = systemError("cannot read back", m_path);
            image_store::removeTemporary(m_path.c_str());
            throw failure;
        }
        m_identity = identityOf(info);
    }
    ~TemporaryFile()
    {
        m_fd.reset();
        if (m_path.empty())
            return;
        // Only our own: another conversion of this bench may have put its
        // file there. One the share cannot tell about goes as well, so
        // nothing is left behind; that conversion then fails to rename and
        // is tried again.
        struct stat info { };
        if (::lstat(m_path.c_str(), &info) != 0 ? errno != ENOENT : sameFile(identityOf(info)))
            image_store::removeTemporary(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void write(const unsigned char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(m_fd.get(), data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw systemError("cannot write", m_path);
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        // No fsync: readers see the whole file or none thanks to the rename,
        // and a JPEG lost to a power cut can be made again from its bitmap.
        // On a network share the sync would cost more than the encoding.
        if (m_fd.close() != 0)
            throw systemError("cannot write", m_path);
    }

    bool stillOurs() const { return sameFile(identityAt(m_path)); }

    void renameTo(const std::string& dest)
    {
        for (int attempt = 0; attempt < RenameAttempts; ++attempt) {
            if (::rename(m_path.c_str(), dest.c_str()) == 0) {
                m_path.clear();
                return;
            }
            // Some SMB servers refuse to replace an existing file; the old
            // picture then goes first, the complete new one right after.
            const int error = errno;
            if ((error != EEXIST && error != EACCES && error != EPERM && error != EBUSY)
                || (::unlink(dest.c_str()) != 0 && errno != ENOENT)) {
                errno = error;
                break;
            }
        }
        // Whatever the reason, the same conversion may well succeed again.
        Failure failure = systemError("cannot rename the new JPEG to", dest);
        failure.shareFailed = true;
        throw failure;
    }

private:
    bool sameFile(const Identity& now) const
    {
        return now.exists && now.device == m_identity.device && now.inode == m_identity.inode;
    }

    UniqueFd m_fd;
    std::string m_path;
    Identity m_identity;
};

// Thrown when a newer take or a deletion made this conversion's JPEG stale.
struct Superseded {
    std::string message;
};

void run(const std::string& sourcePath, const std::string& dest)
{
    if (baseOf(dest).size() + image_store::temporaryNameExtra() > NAME_MAX)
        throw Failure { "the name is too long to be written safely (at most "
            + std::to_string(NAME_MAX - image_store::temporaryNameExtra()) + " characters): " + dest };
    // Never through a link, never over a device or a folder.
    const Identity destBefore = identityAt(dest);
    struct stat destInfo { };
    if (destBefore.exists && ::lstat(dest.c_str(), &destInfo) == 0 && !S_ISREG(destInfo.st_mode))
        throw Failure { "exists and is not a regular file: " + dest };

    Source source;
    readSource(sourcePath, source);

    TjHandle compressor(tjInitCompress());
    if (!compressor)
        throw Failure { std::string("cannot start the JPEG encoder: ") + tjGetErrorStr2(nullptr) };
    TjBuffer jpeg;
    unsigned long jpegSize = 0;
    if (!compressPlainBitmap(compressor.get(), source, sourcePath, jpeg, jpegSize))
        compressOtherBitmap(compressor.get(), source, sourcePath, jpeg, jpegSize);

    TemporaryFile file(dest);
    file.write(jpeg.get(), jpegSize);
    // The picture is put in place only while nothing changed since it was
    // read: not the bitmap (a newer take's converter writes the JPEG), not
    // the JPEG (deleted, or written by that newer converter), not our file.
    if (!(identityAt(sourcePath) == source.identity))
        throw Superseded { sourcePath + " was taken again meanwhile; its newer conversion writes " + dest };
    if (!(identityAt(dest) == destBefore) || !file.stillOurs())
        throw Superseded { dest + " was deleted or written meanwhile; left as it is" };
    file.renameTo(dest);
}

} // namespace

int convert(const std::vector<std::string>& args, std::ostream& err)
{
    if (args.size() != 4 || args[1] != "-j" || args[2] != "--o" || args[0].empty() || args[3].empty()) {
        err << Usage << '\n';
        return 2;
    }
    try {
        run(args[0], args[3]);
    } catch (const Failure& failure) {
        err << "imgcon32.exe: " << failure.message << '\n';
        return failure.shareFailed ? ShareFailedStatus : 1;
    } catch (const Superseded& superseded) {
        err << "imgcon32.exe: nothing written: " << superseded.message << '\n';
        return SupersededStatus;
    }
    return 0;
}

} // namespace converter
