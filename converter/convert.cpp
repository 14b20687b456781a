#include "convert.h"

#include <turbojpeg.h>

#include <cerrno>
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

struct Failure {
    std::string message;
};

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

void requireBitmap(const std::string& source)
{
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Failure{systemError("cannot open", source)};
    char magic[2] = {};
    const ssize_t got = ::read(fd, magic, sizeof magic);
    ::close(fd);
    if (got != 2 || magic[0] != 'B' || magic[1] != 'M')
        throw Failure{"not a BMP file: " + source};
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes the temporary file unless the rename took it.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& dest)
    {
        std::string pattern = folderOf(dest) + "/." + baseOf(dest) + ".XXXXXX";
        m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (m_fd < 0)
            throw Failure{systemError("cannot create a file in", folderOf(dest))};
        m_path = pattern;
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void write(const unsigned char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw Failure{systemError("cannot write", m_path)};
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        // No fsync: readers see the whole file or none thanks to the rename,
        // and a JPEG lost to a power cut can be made again from its bitmap.
        // On a network share the sync would cost more than the encoding.
        if (::close(m_fd) != 0) {
            m_fd = -1;
            throw Failure{systemError("cannot write", m_path)};
        }
        m_fd = -1;
    }

    void renameTo(const std::string& dest)
    {
        // mkostemp makes the file private; give it the mode a new file gets.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(m_path.c_str(), 0666 & ~mask);
        for (int attempt = 0; attempt < RenameAttempts; ++attempt) {
            if (::rename(m_path.c_str(), dest.c_str()) == 0) {
                m_path.clear();
                return;
            }
            // Some SMB servers refuse to replace an existing file; the old
            // picture then goes first, the complete new one right after.
            if ((errno != EEXIST && errno != EACCES && errno != EPERM && errno != EBUSY)
                || ::unlink(dest.c_str()) != 0)
                break;
        }
        throw Failure{systemError("cannot rename the new JPEG to", dest)};
    }

private:
    int m_fd = -1;
    std::string m_path;
};

void run(const std::string& source, const std::string& dest)
{
    requireBitmap(source);

    TjHandle compressor(tjInitCompress());
    if (!compressor)
        throw Failure{std::string("cannot start the JPEG encoder: ") + tjGetErrorStr2(nullptr)};

    int width = 0;
    int height = 0;
    int pixelFormat = TJPF_UNKNOWN;
    TjBuffer pixels(tjLoadImage(source.c_str(), &width, 1, &height, &pixelFormat, 0));
    if (!pixels)
        throw Failure{"cannot read " + source + ": " + tjGetErrorStr2(nullptr)};

    const int subsampling = pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_420;
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int status = tjCompress2(compressor.get(), pixels.get(), width, 0, height, pixelFormat, &jpeg,
                                   &jpegSize, subsampling, JpegQuality, 0);
    TjBuffer jpegBuffer(jpeg);
    if (status != 0)
        throw Failure{"cannot encode " + source + ": " + tjGetErrorStr2(compressor.get())};

    TemporaryFile file(dest);
    file.write(jpegBuffer.get(), jpegSize);
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
        return 1;
    }
    return 0;
}

} // namespace converter
