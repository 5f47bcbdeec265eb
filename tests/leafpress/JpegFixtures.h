#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace pagewren::test {

// Kinds of JPEG file ImageMagick makes for the tests.
enum class JpegKind {
    Grey,        // one component
    Rgb,         // three components, baseline
    Cmyk,        // four components, Adobe-inverted as ImageMagick writes them
    Progressive, // three components, progressive
};

const char* kindName(JpegKind kind);

// Writes a JPEG of the given kind and size with ImageMagick: four quadrants, red, green, blue
// and white (their grey levels for Grey), so that colours can be told apart on a render.
void makeJpeg(const std::filesystem::path& path, JpegKind kind, int width = 64, int height = 48);

// The file's bytes as unsigned values, and back.
std::basic_string<std::uint8_t> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::basic_string<std::uint8_t>& bytes);

// The offset of the first marker segment with this code (the 0xFF byte), or npos.
std::size_t findMarker(const std::basic_string<std::uint8_t>& jpeg, std::uint8_t code);

} // namespace pagewren::test
