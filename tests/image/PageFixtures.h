#pragma once

#include <filesystem>
#include <string>

namespace pagewren::test {

// A colour page as the scanner session writes it: a PackBits TIFF of the given size and
// resolution. Pages of different sizes tell their copies apart.
void MakePage(const std::filesystem::path& path, int width, int height, int dpi = 300);

// What ImageMagick reads from a picture file.
struct PictureFacts {
    std::string format; // "JPEG", "TIFF", ...
    int width = 0;
    int height = 0;
    int xDpi = 0;
    int yDpi = 0;
    int quality = 0; // as ImageMagick estimates it for a JPEG
};
PictureFacts Identify(const std::filesystem::path& file);

} // namespace pagewren::test
