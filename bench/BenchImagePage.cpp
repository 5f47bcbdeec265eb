// Times one page of closing a job: decode a 2550 x 3300 RGB PackBits TIFF and encode it as a
// quality-60 JPEG, through the image document and through bare libtiff + libjpeg in the same run.
//
//   bench_image_page [folder] [rounds]

#include "image/Bitmap.h"
#include "image/DWImage.h"
#include "image/PackBitsTiff.h"

#include <jpeglib.h>
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 2550;
constexpr int kHeight = 3300;

// Something like a scanned letter: white paper with a little noise, lines of dark "text", a
// photo-like block of colour.
pagewren::Bitmap makePage()
{
    pagewren::Bitmap page(kWidth, kHeight, 24);
    page.setXPelsPerMeter(11811);
    page.setYPelsPerMeter(11811);
    std::mt19937 random(1);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = page.row(y);
        const bool textLine = y > 300 && y < 2400 && (y / 30) % 2 == 0;
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = row + 3 * x;
            const int noise = static_cast<int>(random() % 7);
            int value = 245 + noise;
            if (textLine && x > 250 && x < 2300 && ((x / 9) % 5 != 0) && random() % 3 == 0)
                value = 30 + noise;
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(value);
            if (y >= 2500 && y < 3100 && x >= 300 && x < 1500) {
                p[0] = static_cast<std::uint8_t>(x / 5 + noise);
                p[1] = static_cast<std::uint8_t>(y / 13 + noise);
                p[2] = static_cast<std::uint8_t>((x + y) / 17);
            }
        }
    }
    return page;
}

// Bare library code, as one would write it without our layer: strips straight into one buffer,
// rows straight to libjpeg.
void bareConvert(const std::string& tiffPath, const std::string& jpegPath)
{
    TIFF* tiff = TIFFOpen(tiffPath.c_str(), "r");
    if (!tiff)
        throw std::runtime_error("cannot open " + tiffPath);
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    auto pixels = std::make_unique_for_overwrite<std::uint8_t[]>(stride * height);
    for (std::uint32_t strip = 0, row = 0; row < height; ++strip, row += rowsPerStrip) {
        const std::uint32_t rows = std::min(rowsPerStrip, height - row);
        TIFFReadEncodedStrip(tiff, strip, pixels.get() + stride * row,
                             static_cast<tmsize_t>(stride * rows));
    }
    TIFFClose(tiff);

    std::FILE* out = std::fopen(jpegPath.c_str(), "wb");
    if (!out)
        throw std::runtime_error("cannot create " + jpegPath);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 60, TRUE);
    info.density_unit = 1;
    info.X_density = 300;
    info.Y_density = 300;
    jpeg_start_compress(&info, TRUE);
    JSAMPROW rows[16];
    while (info.next_scanline < info.image_height) {
        const JDIMENSION count = std::min<JDIMENSION>(16, height - info.next_scanline);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = pixels.get() + stride * (info.next_scanline + i);
        jpeg_write_scanlines(&info, rows, count);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
}

void ourConvert(const std::string& tiffPath, const std::string& jpegPath)
{
    pagewren::TDWImage document;
    if (!document.LoadFromFile(tiffPath))
        throw std::runtime_error(document.LastError());
    const pagewren::ImageWriteResult result = document.SaveToFileChecked(jpegPath, 60);
    if (!result.ok())
        throw std::runtime_error(result.error);
}

double milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const fs::path folder =
            argc > 1 ? fs::path(argv[1])
                     : fs::temp_directory_path() / ("pagewren-bench-" + std::to_string(::getpid()));
        const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
        fs::create_directories(folder);
        const std::string page = (folder / "img_001.tif").string();
        pagewren::SavePackBitsTiff(makePage(), page);

        std::vector<double> ours, bare;
        for (int round = 0; round < rounds + 1; ++round) {
            auto start = Clock::now();
            bareConvert(page, (folder / "bare.JPG").string());
            const double bareTime = milliseconds(Clock::now() - start);
            start = Clock::now();
            ourConvert(page, (folder / "img_001_COMPRESSED.JPG").string());
            const double ourTime = milliseconds(Clock::now() - start);
            if (round > 0) { // the first round warms the page cache
                bare.push_back(bareTime);
                ours.push_back(ourTime);
            }
        }
        const double ourMedian = median(ours), bareMedian = median(bare);
        std::printf("page %d x %d RGB, PackBits TIFF %.1f MB -> quality-60 JPEG %.2f MB, "
                    "median of %d rounds\n",
                    kWidth, kHeight, fs::file_size(page) / 1e6,
                    fs::file_size(folder / "img_001_COMPRESSED.JPG") / 1e6, rounds);
        std::printf("  TDWImage load + save:  %7.1f ms\n", ourMedian);
        std::printf("  bare libtiff+libjpeg:  %7.1f ms\n", bareMedian);
        std::printf("  ratio:                 %7.3f\n", ourMedian / bareMedian);
        if (argc <= 1)
            fs::remove_all(folder);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_image_page: %s\n", e.what());
        return 1;
    }
}
