#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a still shows, measured for the window's checks in a process of its
// own: a decoder that aborts or hangs on some picture never takes the window
// down.
namespace still_check {

struct Grey {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // row after row, one byte a pixel
};

// Reads a bitmap as grey levels; throws std::runtime_error with the reason.
// Only a regular file is opened, without following a link or blocking.
Grey loadGrey(const std::string& path);

struct Levels {
    double mean = 0; // 0 to 255
    double spread = 0; // standard deviation
    double darkShare = 0; // of pixels at 16 or less
    double brightShare = 0; // of pixels at 250 or more
};
Levels levels(const Grey& picture);

inline constexpr int ThumbWidth = 64;
inline constexpr int ThumbHeight = 36;
// The picture reduced to ThumbWidth x ThumbHeight averages: what stays the
// same under camera noise.
std::vector<std::uint8_t> thumbnail(const Grey& picture);

// The barcodes found, as "FORMAT TEXT", the formats that labels of samples
// carry only.
std::vector<std::string> barcodes(const Grey& picture);

// The program's whole work: arguments after its name. "[--barcodes] FILE"
// writes what FILE shows to out, one finding per line:
//   levels MEAN SPREAD DARKSHARE BRIGHTSHARE
//   thumb HEX
//   barcode FORMAT TEXT
// "--serve" answers requests read from in, one per line ("B FILE" with the
// barcodes, "L FILE" without), each with those lines and then Done, so one
// process checks still after still: a fresh process pays for its memory
// page by page, which costs more than the checks.
inline constexpr const char* Done = "done";
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

} // namespace still_check
