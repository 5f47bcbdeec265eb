#include "ImageTestSupport.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace pagewren::test {

const char* PatternName(PatternKind kind)
{
    switch (kind) {
    case PatternKind::Bilevel:
        return "bilevel";
    case PatternKind::Grey:
        return "grey";
    case PatternKind::Palette:
        return "palette";
    case PatternKind::Rgb:
        return "rgb";
    case PatternKind::Rgba:
        return "rgba";
    }
    return "?";
}

Bitmap MakePattern(PatternKind kind, int width, int height, std::int32_t pelsPerMeter)
{
    const int bits = kind == PatternKind::Bilevel ? 1
                     : kind == PatternKind::Rgb   ? 24
                     : kind == PatternKind::Rgba  ? 32
                                                  : 8;
    Bitmap bitmap(width, height, bits);
    bitmap.setXPelsPerMeter(pelsPerMeter);
    bitmap.setYPelsPerMeter(pelsPerMeter);
    if (kind == PatternKind::Palette) {
        for (int i = 0; i < 16; ++i)
            bitmap.palette().push_back({static_cast<std::uint8_t>(i * 16),
                                        static_cast<std::uint8_t>(255 - i * 8),
                                        static_cast<std::uint8_t>((i * 97) % 256)});
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.row(y);
        std::fill_n(row, bitmap.stride(), std::uint8_t{0});
        for (int x = 0; x < width; ++x) {
            const auto ux = static_cast<unsigned>(x), uy = static_cast<unsigned>(y);
            switch (kind) {
            case PatternKind::Bilevel:
                if ((x / 3 + y / 2 + (x * y) % 5) % 2)
                    row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                break;
            case PatternKind::Grey:
                row[x] = static_cast<std::uint8_t>(ux * 3 + uy * 5);
                break;
            case PatternKind::Palette:
                row[x] = static_cast<std::uint8_t>((ux / 2 + uy) % 16);
                break;
            case PatternKind::Rgb:
            case PatternKind::Rgba: {
                const int channels = bits / 8;
                std::uint8_t* p = row + x * channels;
                p[0] = static_cast<std::uint8_t>(ux * 7 + uy);
                p[1] = static_cast<std::uint8_t>(uy * 5);
                p[2] = static_cast<std::uint8_t>((ux ^ uy) * 3);
                if (channels == 4)
                    p[3] = static_cast<std::uint8_t>(255 - ((ux + uy) % 8) * 20);
                break;
            }
            }
        }
    }
    return bitmap;
}

Rgba ColourAt(const Bitmap& bitmap, int x, int y)
{
    const std::uint8_t* row = bitmap.row(y);
    const auto& palette = bitmap.palette();
    auto fromIndex = [&](unsigned index, bool bilevel) {
        if (!palette.empty()) {
            if (index >= palette.size())
                return Rgba{0, 0, 0, 255};
            return Rgba{palette[index].red, palette[index].green, palette[index].blue, 255};
        }
        const auto level = static_cast<std::uint8_t>(bilevel ? index * 255 : index);
        return Rgba{level, level, level, 255};
    };
    switch (bitmap.bitsPerPixel()) {
    case 1:
        return fromIndex((row[x / 8] >> (7 - x % 8)) & 1, true);
    case 8:
        return fromIndex(row[x], false);
    case 24:
        return Rgba{row[3 * x], row[3 * x + 1], row[3 * x + 2], 255};
    default:
        return Rgba{row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
    }
}

std::string CompareColours(const Bitmap& actual, const Bitmap& expected, int tolerance)
{
    std::ostringstream out;
    if (actual.width() != expected.width() || actual.height() != expected.height()) {
        out << "size " << actual.width() << "x" << actual.height() << ", expected "
            << expected.width() << "x" << expected.height();
        return out.str();
    }
    const bool alpha = actual.bitsPerPixel() == 32 && expected.bitsPerPixel() == 32;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const Rgba a = ColourAt(actual, x, y);
            const Rgba e = ColourAt(expected, x, y);
            auto off = [tolerance](int p, int q) { return std::abs(p - q) > tolerance; };
            if (off(a.red, e.red) || off(a.green, e.green) || off(a.blue, e.blue) ||
                (alpha && off(a.alpha, e.alpha))) {
                out << "pixel (" << x << ", " << y << ") is " << int(a.red) << "," << int(a.green)
                    << "," << int(a.blue) << "," << int(a.alpha) << ", expected " << int(e.red)
                    << "," << int(e.green) << "," << int(e.blue) << "," << int(e.alpha);
                return out.str();
            }
        }
    }
    return {};
}

void WriteNetpbm(const Bitmap& bitmap, const std::filesystem::path& path)
{
    std::ostringstream out;
    const int w = bitmap.width(), h = bitmap.height();
    const bool plainBilevel = bitmap.bitsPerPixel() == 1 && bitmap.palette().empty();
    const bool plainGrey = bitmap.bitsPerPixel() == 8 && bitmap.palette().empty();
    if (plainBilevel) {
        // P4 counts 1 as black.
        out << "P4\n" << w << " " << h << "\n";
        for (int y = 0; y < h; ++y)
            for (std::size_t i = 0; i < bitmap.stride(); ++i)
                out << static_cast<char>(~bitmap.row(y)[i]);
    } else if (plainGrey) {
        out << "P5\n" << w << " " << h << "\n255\n";
        for (int y = 0; y < h; ++y)
            out.write(reinterpret_cast<const char*>(bitmap.row(y)), w);
    } else if (bitmap.bitsPerPixel() == 32) {
        out << "P7\nWIDTH " << w << "\nHEIGHT " << h
            << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (int y = 0; y < h; ++y)
            out.write(reinterpret_cast<const char*>(bitmap.row(y)), 4 * w);
    } else {
        out << "P6\n" << w << " " << h << "\n255\n";
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const Rgba c = ColourAt(bitmap, x, y);
                out << static_cast<char>(c.red) << static_cast<char>(c.green)
                    << static_cast<char>(c.blue);
            }
        }
    }
    writeFile(path, out.str());
}

std::string Quoted(const std::filesystem::path& path)
{
    std::string quoted = "'";
    for (char c : path.string()) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string RunTool(const std::string& command)
{
    std::string output;
    const int status = runCommand(command, &output);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    return output;
}

} // namespace pagewren::test
