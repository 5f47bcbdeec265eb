#include "image/PackBitsTiff.h"

#include "image/Bitmap.h"
#include "util/Error.h"

#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace pagewren {

namespace {

constexpr double kPelsPerMeterPerDpi = 39.370079;
// PackBits writes markedly faster with larger strips than with libtiff's default of one row.
constexpr std::uint32_t kRowsPerStrip = 64;

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

} // namespace

void SavePackBitsTiff(const Bitmap& page, const std::string& path)
{
    if (page.isEmpty())
        throw Error("No image to save to " + path);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w"));
    if (!tiff)
        throw Error("Could not create " + path);
    TIFF* t = tiff.get();

    const int bpp = page.bitsPerPixel();
    const bool rgb = bpp == 24 || bpp == 32;
    const auto& palette = page.palette();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(page.width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(page.height()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(rgb ? 8 : bpp));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(rgb ? bpp / 8 : 1));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (rgb) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        if (bpp == 32) {
            const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
    } else if (palette.empty()) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    } else {
        // A palette image keeps its colours in a TIFF colour map of 2^bits 16-bit entries.
        const std::size_t entries = std::size_t{1} << bpp;
        std::vector<std::uint16_t> red(entries), green(entries), blue(entries);
        for (std::size_t i = 0; i < entries && i < palette.size(); ++i) {
            red[i] = static_cast<std::uint16_t>(palette[i].red * 257);
            green[i] = static_cast<std::uint16_t>(palette[i].green * 257);
            blue[i] = static_cast<std::uint16_t>(palette[i].blue * 257);
        }
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    if (page.xPelsPerMeter() > 0 && page.yPelsPerMeter() > 0) {
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(t, TIFFTAG_XRESOLUTION,
                     static_cast<float>(page.xPelsPerMeter() / kPelsPerMeterPerDpi));
        TIFFSetField(t, TIFFTAG_YRESOLUTION,
                     static_cast<float>(page.yPelsPerMeter() / kPelsPerMeterPerDpi));
    }

    // Whole strips at a time: the rows of a strip lie next to each other in the bitmap.
    const auto rows = static_cast<std::uint32_t>(page.height());
    for (std::uint32_t first = 0, strip = 0; first < rows; first += kRowsPerStrip, ++strip) {
        const std::uint32_t count = std::min(kRowsPerStrip, rows - first);
        // libtiff takes a non-const buffer but does not modify it when encoding PackBits.
        auto* data = const_cast<std::uint8_t*>(page.row(static_cast<int>(first)));
        if (TIFFWriteEncodedStrip(t, strip, data, static_cast<tmsize_t>(count * page.stride())) < 0)
            throw Error("Could not write " + path);
    }
    if (!TIFFWriteDirectory(t))
        throw Error("Could not write " + path);
}

} // namespace pagewren
