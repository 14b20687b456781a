#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace converter {

// The converter's whole work: arguments as they follow the program name
// ("SOURCE.bmp -j --o DEST.jpg"). Returns the exit status; on failure one
// line goes to err and no file is left at DEST or beside it.
int convert(const std::vector<std::string>& args, std::ostream& err);

inline constexpr int JpegQuality = 90;

} // namespace converter
