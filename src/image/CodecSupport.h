#pragma once

// Small helpers the format codecs share; internal to the image layer.

#include "image/Bitmap.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace pagewren::codecs {

// Throws Error unless a bitmap of this size and depth is allowed and fits in maxBytes.
void CheckBitmapSize(std::uint64_t width, std::uint64_t height, int bitsPerPixel,
                     std::size_t maxBytes);

// The colour of every possible pixel value of a 1- or 8-bit bitmap: its palette padded with black,
// or the grey levels when it has none. Lets writers look up any index without a bounds check.
std::array<PaletteEntry, 256> ColourTable(const Bitmap& bitmap);

// Drops the palette entries after the largest index a 1- or 8-bit bitmap uses. For formats whose
// colour maps always have 2^n entries, so that the padding does not become part of the picture.
void TrimPaletteToUse(Bitmap& bitmap);

// True when every colour a 1- or 8-bit bitmap can show is a grey.
bool IsGreyscale(const Bitmap& bitmap);

// Pixel value of x in a row of 1-bit pixels.
inline std::uint8_t Bit(const std::uint8_t* row, std::size_t x)
{
    return (row[x / 8] >> (7 - x % 8)) & 1;
}

// A 16-bit sample scaled to 8 bits with rounding.
inline std::uint8_t Scale16To8(std::uint16_t value)
{
    return static_cast<std::uint8_t>((value + 128u) / 257u);
}

} // namespace pagewren::codecs
