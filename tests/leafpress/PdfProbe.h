#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pagewren::test {

// What poppler's and qpdf's command-line tools say about a PDF.

// Runs `qpdf --check`; true when it finds no problem. Its report goes to `report`.
bool qpdfCheck(const std::filesystem::path& pdf, std::string* report);

struct PageSize {
    double width = 0;
    double height = 0;
};
// The size in points of every page, from pdfinfo.
std::vector<PageSize> pageSizes(const std::filesystem::path& pdf);

// One row of `pdfimages -list`.
struct ListedImage {
    int page = 0;
    int width = 0;
    int height = 0;
    std::string colour; // gray, rgb, cmyk
    int components = 0;
    std::string encoding;
    int xPpi = 0;
    int yPpi = 0;
};
std::vector<ListedImage> listImages(const std::filesystem::path& pdf);

// The JPEG streams as `pdfimages -j` writes them out, in page order.
std::vector<std::string> extractJpegs(const std::filesystem::path& pdf,
                                      const std::filesystem::path& folder);

// An 8-bit RGB raster.
struct Raster {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    struct Pixel {
        int r, g, b;
    };
    Pixel at(int x, int y) const;
};
// One page rendered by pdftoppm at `dpi`.
Raster renderPage(const std::filesystem::path& pdf, int page, int dpi);
// A picture file decoded by ImageMagick into sRGB.
Raster decodeImage(const std::filesystem::path& picture);

} // namespace pagewren::test
