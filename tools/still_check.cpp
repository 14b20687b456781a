#include "tools/still_check.h"

#include "image_store/unique_fd.h"

// Text as UTF-8, as later versions give it.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#include <turbojpeg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <istream>
#include <ostream>
#include <stdexcept>

namespace still_check {

namespace {

struct TjFree {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

} // namespace

Grey loadGrey(const std::string& path)
{
    const image_store::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status { };
    if (!file || ::fstat(file.get(), &status) != 0)
        throw std::runtime_error("cannot open " + path);
    if (!S_ISREG(status.st_mode))
        throw std::runtime_error("not a regular file: " + path);
    // The file checked, not the name again.
    const std::string opened = "/proc/self/fd/" + std::to_string(file.get());
    Grey grey;
    // The loader gives a colour file's pixels in colour only.
    int format = TJPF_RGB;
    std::unique_ptr<unsigned char, TjFree> pixels(
        tjLoadImage(opened.c_str(), &grey.width, 1, &grey.height, &format, 0));
    if (!pixels)
        throw std::runtime_error("cannot read " + path + ": " + tjGetErrorStr2(nullptr));
    const std::size_t count = std::size_t(grey.width) * std::size_t(grey.height);
    grey.pixels.resize(count);
    const unsigned char* rgb = pixels.get();
    for (std::size_t i = 0; i < count; ++i, rgb += 3)
        grey.pixels[i] = std::uint8_t((77 * rgb[0] + 150 * rgb[1] + 29 * rgb[2] + 128) >> 8);
    return grey;
}

Levels levels(const Grey& picture)
{
    Levels found;
    if (picture.pixels.empty())
        return found;
    // Counted by level first: one addition a pixel.
    std::array<std::uint64_t, 256> histogram {};
    for (const std::uint8_t level : picture.pixels)
        ++histogram[level];
    double sum = 0;
    double squares = 0;
    std::uint64_t dark = 0;
    std::uint64_t bright = 0;
    for (int level = 0; level < 256; ++level) {
        const auto count = double(histogram[std::size_t(level)]);
        sum += count * level;
        squares += count * level * level;
        dark += level <= 16 ? histogram[std::size_t(level)] : 0;
        bright += level >= 250 ? histogram[std::size_t(level)] : 0;
    }
    const double count = double(picture.pixels.size());
    found.mean = sum / count;
    found.spread = std::sqrt(std::max(0.0, squares / count - found.mean * found.mean));
    found.darkShare = double(dark) / count;
    found.brightShare = double(bright) / count;
    return found;
}

std::vector<std::uint8_t> thumbnail(const Grey& picture)
{
    std::vector<std::uint8_t> thumb(std::size_t(ThumbWidth) * ThumbHeight, 0);
    if (picture.width < ThumbWidth || picture.height < ThumbHeight)
        return thumb;
    for (int ty = 0; ty < ThumbHeight; ++ty) {
        const int y0 = ty * picture.height / ThumbHeight;
        const int y1 = (ty + 1) * picture.height / ThumbHeight;
        for (int tx = 0; tx < ThumbWidth; ++tx) {
            const int x0 = tx * picture.width / ThumbWidth;
            const int x1 = (tx + 1) * picture.width / ThumbWidth;
            std::uint64_t sum = 0;
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t* row = picture.pixels.data() + std::size_t(y) * std::size_t(picture.width);
                for (int x = x0; x < x1; ++x)
                    sum += row[x];
            }
            const auto area = std::uint64_t(y1 - y0) * std::uint64_t(x1 - x0);
            thumb[std::size_t(ty) * ThumbWidth + std::size_t(tx)] = std::uint8_t((sum + area / 2) / area);
        }
    }
    return thumb;
}

std::vector<std::string> barcodes(const Grey& picture)
{
    using ZXing::BarcodeFormat;
    ZXing::DecodeHints hints;
    hints.setFormats(BarcodeFormat::Code128 | BarcodeFormat::Code39 | BarcodeFormat::ITF | BarcodeFormat::EAN8
        | BarcodeFormat::EAN13 | BarcodeFormat::UPCA | BarcodeFormat::UPCE | BarcodeFormat::DataMatrix
        | BarcodeFormat::QRCode);
    // One symbol: reading several compares results, which asserts in this
    // version on some pictures.
    const ZXing::Result result = ZXing::ReadBarcode(
        ZXing::ImageView(picture.pixels.data(), picture.width, picture.height, ZXing::ImageFormat::Lum),
        hints);
    if (!result.isValid())
        return {};
    return { std::string(ZXing::ToString(result.format())) + ' ' + result.text() };
}

namespace {

constexpr const char* Usage = "usage: imagemaker-still-check [--barcodes] FILE | --serve\n";

int checkOne(const std::string& path, bool readBarcodes, std::ostream& out, std::ostream& err)
{
    try {
        const Grey picture = loadGrey(path);
        const Levels found = levels(picture);
        char line[160];
        std::snprintf(line, sizeof line, "levels %.2f %.2f %.4f %.4f\n", found.mean, found.spread,
            found.darkShare, found.brightShare);
        out << line << "thumb ";
        static const char digits[] = "0123456789abcdef";
        for (const std::uint8_t level : thumbnail(picture))
            out << digits[level >> 4] << digits[level & 15];
        out << '\n';
        // Written before the decoder runs: what it cannot read, the window
        // still has.
        out.flush();
        if (readBarcodes)
            for (std::string code : barcodes(picture)) {
                // One line each, whatever a label holds.
                for (char& c : code)
                    if (static_cast<unsigned char>(c) < 0x20)
                        c = ' ';
                out << "barcode " << code << '\n';
            }
        out.flush();
        return 0;
    } catch (const std::exception& failure) {
        err << failure.what() << '\n';
        return 1;
    }
}

int serve(std::istream& in, std::ostream& out, std::ostream& err)
{
    std::string request;
    while (std::getline(in, request)) {
        // "B FILE" reads barcodes too, "L FILE" the levels only.
        if (request.size() > 2 && (request[0] == 'B' || request[0] == 'L') && request[1] == ' ')
            checkOne(request.substr(2), request[0] == 'B', out, err);
        else
            err << "not a request: " << request << '\n';
        out << DoneLine;
        out.flush();
    }
    return 0;
}

} // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    if (args.size() == 1 && args[0] == "--serve")
        return serve(in, out, err);
    bool readBarcodes = false;
    std::string path;
    for (const std::string& arg : args) {
        if (arg == "--barcodes")
            readBarcodes = true;
        else if (path.empty() && !arg.starts_with("--"))
            path = arg;
        else {
            err << Usage;
            return 2;
        }
    }
    if (path.empty()) {
        err << Usage;
        return 2;
    }
    return checkOne(path, readBarcodes, out, err);
}

} // namespace still_check
