#include "image/CodecSupport.h"

#include "util/Error.h"

#include <algorithm>
#include <string>

namespace pagewren::codecs {

void CheckBitmapSize(std::uint64_t width, std::uint64_t height, int bitsPerPixel,
                     std::size_t maxBytes)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width == 0 || height == 0)
        throw Error("Image has no pixels (" + size + ")");
    if (width > static_cast<std::uint64_t>(Bitmap::kMaxDimension) ||
        height > static_cast<std::uint64_t>(Bitmap::kMaxDimension))
        throw Error("Image too large: " + size);
    const std::size_t stride = Bitmap::strideFor(static_cast<int>(width), bitsPerPixel);
    if (stride == 0 || stride > maxBytes / height)
        throw Error("Image too large: " + size);
}

std::array<PaletteEntry, 256> ColourTable(const Bitmap& bitmap)
{
    std::array<PaletteEntry, 256> table{};
    const auto& palette = bitmap.palette();
    if (!palette.empty()) {
        for (std::size_t i = 0; i < palette.size() && i < table.size(); ++i)
            table[i] = palette[i];
    } else if (bitmap.bitsPerPixel() == 1) {
        table[1] = {255, 255, 255};
    } else {
        for (std::size_t i = 0; i < table.size(); ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            table[i] = {v, v, v};
        }
    }
    return table;
}

void TrimPaletteToUse(Bitmap& bitmap)
{
    auto& palette = bitmap.palette();
    if (palette.empty() || bitmap.bitsPerPixel() > 8)
        return;
    std::size_t used = 0;
    if (bitmap.bitsPerPixel() == 1) {
        for (int y = 0; y < bitmap.height() && used < 2; ++y) {
            for (int x = 0; x < bitmap.width(); ++x) {
                if (Bit(bitmap.row(y), static_cast<std::size_t>(x))) {
                    used = 2;
                    break;
                }
            }
        }
        used = std::max<std::size_t>(used, 1);
    } else {
        std::uint8_t largest = 0;
        for (int y = 0; y < bitmap.height(); ++y) {
            const std::uint8_t* row = bitmap.row(y);
            largest = std::max(largest, *std::max_element(row, row + bitmap.width()));
        }
        used = largest + 1u;
    }
    if (palette.size() > used)
        palette.resize(used);
}

bool IsGreyscale(const Bitmap& bitmap)
{
    const std::size_t used = std::size_t{1} << bitmap.bitsPerPixel();
    const auto table = ColourTable(bitmap);
    for (std::size_t i = 0; i < used && i < table.size(); ++i) {
        if (table[i].red != table[i].green || table[i].red != table[i].blue)
            return false;
    }
    return true;
}

} // namespace pagewren::codecs
