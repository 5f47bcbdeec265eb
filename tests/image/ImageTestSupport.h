#pragma once

#include "image/Bitmap.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace pagewren::test {

struct Rgba {
    std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

// The kinds of bitmap the tests make: every depth, and 8 bits both as grey and with a palette.
enum class PatternKind { Bilevel, Grey, Palette, Rgb, Rgba };
const char* PatternName(PatternKind kind);

// A bitmap whose pixels differ from row to row and column to column (so that a swapped, shifted
// or flipped row shows), at the given resolution in pixels per metre.
Bitmap MakePattern(PatternKind kind, int width, int height, std::int32_t pelsPerMeter = 11811);

// The colour of a pixel whatever the depth.
Rgba ColourAt(const Bitmap& bitmap, int x, int y);

// Empty when both show the same colours everywhere (within tolerance per channel, alpha
// included when both have it); else a description of the first difference.
std::string CompareColours(const Bitmap& actual, const Bitmap& expected, int tolerance = 0);

// Writes the bitmap as a netpbm file that ImageMagick reads: P4 for 1 bit, P5 for grey, P6 for
// palette or RGB colours, P7 with alpha for 32 bits.
void WriteNetpbm(const Bitmap& bitmap, const std::filesystem::path& path);

// "'path'" for the shell.
std::string Quoted(const std::filesystem::path& path);

// Runs a command and returns its output; the test fails when it exits with an error.
std::string RunTool(const std::string& command);

} // namespace pagewren::test
