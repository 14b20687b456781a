#pragma once

#include "image_store/converter_status.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace converter {

// The converter's whole work: arguments as they follow the program name
// ("SOURCE.bmp -j --o DEST.jpg"). Returns the exit status; on failure one
// line goes to err and no file is left at DEST or beside it. It refuses a
// source that is not a regular file, a destination that exists and is not
// one (a link, a device), a picture over MaxPixels and a name too long for
// its temporary file.
int convert(const std::vector<std::string>& args, std::ostream& err);

inline constexpr int JpegQuality = 90;
inline constexpr std::uint64_t MaxPixels = 100'000'000;
inline constexpr int SupersededStatus = image_store::ConverterSupersededStatus;
// Other failures (a bitmap it refuses) exit with 1.
inline constexpr int ShareFailedStatus = image_store::ConverterShareFailedStatus;

} // namespace converter
