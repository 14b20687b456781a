#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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
// "--serve" answers requests read from in, one per line (request()), each
// with those lines and then DoneLine, so one process checks still after
// still: a fresh process pays for its memory page by page, which costs more
// than the checks.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// A serving checker's request for one still: "B FILE" with the barcodes,
// "L FILE" without.
inline std::string request(const std::string& path, bool readBarcodes)
{
    return (readBarcodes ? "B " : "L ") + path + '\n';
}

inline constexpr std::string_view DoneLine = "done\n";

// Where the line that ends an answer begins in what a serving checker wrote;
// npos while none has come.
inline std::size_t answerEnd(std::string_view output)
{
    if (output.starts_with(DoneLine))
        return 0;
    const std::size_t at = output.find("\ndone\n");
    return at == std::string_view::npos ? at : at + 1;
}

} // namespace still_check
