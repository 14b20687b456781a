#pragma once

// Shared by the program and the converter, which write into the same folders.

#include <cerrno>
#include <string>
#include <string_view>
#include <unistd.h>

namespace image_store {

inline constexpr std::string_view TemporarySuffix = ".part";

// This bench's name as it goes into a file name: the host name, with
// anything but letters, digits, '-' and '_' replaced, and cut short.
inline const std::string& benchName()
{
    static const std::string name = [] {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
            return std::string("bench");
        std::string safe;
        for (const char* c = host; *c != '\0' && safe.size() < 32; ++c) {
            const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z')
                || (*c >= '0' && *c <= '9') || *c == '-' || *c == '_';
            safe += plain ? *c : '_';
        }
        return safe;
    }();
    return name;
}

// Where a file of the share is written before it is renamed into place:
// ".NAME.BENCH.part" in the same folder. Two benches writing the same file
// never share a temporary; and as the name comes from the final one, a
// temporary left by this bench's killed writer is replaced by its next
// write of the same file instead of piling up.
inline std::string temporaryNameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    std::string temporary(path.substr(0, base));
    temporary += '.';
    temporary += path.substr(base);
    temporary += '.';
    temporary += benchName();
    temporary += TemporarySuffix;
    return temporary;
}

// Removes a temporary that is not to be put in place. Tried again when the
// share fails it, so one fault does not leave it behind; false when it
// is still there.
inline bool removeTemporary(const char* path)
{
    for (int attempt = 0; attempt < 3; ++attempt)
        if (::unlink(path) == 0 || errno == ENOENT)
            return true;
    return false;
}

// How many characters a temporary's name has beyond its final name's.
inline std::size_t temporaryNameExtra()
{
    return temporaryNameOf("").size();
}

} // namespace image_store
