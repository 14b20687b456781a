#pragma once

// Shared by the program and the converter, which write into the same folders.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace image_store {

inline constexpr std::string_view TemporarySuffix = ".part";

// This bench's host name as it goes into a file name: anything but
// letters, digits, '-' and '_' replaced, and cut short. What an operator
// knows the bench by.
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

// This machine as it runs now: its machine id and the kernel's boot id,
// hashed short. Two benches never share it, even cloned from one disk image
// under one host name; a process id means something only under it.
inline const std::string& benchRun()
{
    static const std::string run = [] {
        std::uint64_t hash = 14695981039346656037ull; // FNV-1a
        for (const char* path : { "/etc/machine-id", "/proc/sys/kernel/random/boot_id" }) {
            std::ifstream file(path);
            std::string id;
            std::getline(file, id);
            for (const char c : id + '/')
                hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        char hex[17] = {};
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
        return std::string(hex, 12);
    }();
    return run;
}

// Where a file of the share is written before it is renamed into place:
// ".NAME.BENCH-RUN.part" in the same folder. Two benches writing the same
// file never share a temporary; and as the name comes from the final one, a
// temporary left by this bench's killed writer is replaced by its next
// write of the same file in this run instead of piling up.
inline std::string temporaryNameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    std::string temporary(path.substr(0, base));
    temporary += '.';
    temporary += path.substr(base);
    temporary += '.';
    temporary += benchName();
    temporary += '-';
    temporary += benchRun();
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
