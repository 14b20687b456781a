#pragma once

// Shared by the program and the converter, which write into the same folders.

#include <string>
#include <string_view>

namespace image_store {

inline constexpr std::string_view TemporarySuffix = ".part";

// Where a file of the share is written before it is renamed into place:
// ".NAME.part" in the same folder. The name comes from the final one, so a
// temporary left by a killed writer is replaced by the next write of the
// same file instead of piling up.
inline std::string temporaryNameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    std::string temporary(path.substr(0, base));
    temporary += '.';
    temporary += path.substr(base);
    temporary += TemporarySuffix;
    return temporary;
}

} // namespace image_store
