#include "JpegFixtures.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pagewren::test {

const char* kindName(JpegKind kind)
{
    switch (kind) {
    case JpegKind::Grey:
        return "grey";
    case JpegKind::Rgb:
        return "rgb";
    case JpegKind::Cmyk:
        return "cmyk";
    case JpegKind::Progressive:
        return "progressive";
    }
    return "?";
}

void makeJpeg(const std::filesystem::path& path, JpegKind kind, int width, int height)
{
    const std::string half = std::to_string(width / 2) + "x" + std::to_string(height / 2);
    std::string command = "convert \\( -size " + half + " xc:red xc:lime +append \\) \\( -size " +
                          half + " xc:blue xc:white +append \\) -append -resize " +
                          std::to_string(width) + "x" + std::to_string(height) + "! -quality 90";
    switch (kind) {
    case JpegKind::Grey:
        command += " -colorspace Gray -type Grayscale";
        break;
    case JpegKind::Rgb:
        break;
    case JpegKind::Cmyk:
        command += " -colorspace CMYK";
        break;
    case JpegKind::Progressive:
        command += " -interlace JPEG";
        break;
    }
    command += " 'jpg:" + path.string() + "'";
    std::string output;
    if (runCommand(command, &output) != 0)
        throw std::runtime_error("convert failed: " + output);
}

std::basic_string<std::uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return {bytes.begin(), bytes.end()};
}

void writeBytes(const std::filesystem::path& path, const std::basic_string<std::uint8_t>& bytes)
{
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::size_t findMarker(const std::basic_string<std::uint8_t>& jpeg, std::uint8_t code)
{
    // Walk the segments from the start so that bytes inside them are not mistaken for markers.
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        if (jpeg[at + 1] == code)
            return at;
        if (jpeg[at + 1] == 0xDA)
            break;
        at += 2 + ((jpeg[at + 2] << 8) | jpeg[at + 3]);
    }
    return std::basic_string<std::uint8_t>::npos;
}

} // namespace pagewren::test
