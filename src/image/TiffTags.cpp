#include "image/TiffTags.h"

#include "image/Resolution.h"

#include <cmath>
#include <limits>

namespace pagewren {

TiffLayoutTags ReadTiffLayoutTags(TIFF* tiff)
{
    TiffLayoutTags tags;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &tags.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &tags.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &tags.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &tags.orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &tags.sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &tags.compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &tags.photometric))
        tags.photometric = tags.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    return tags;
}

void ReadTiffResolution(TIFF* tiff, std::int32_t& xPelsPerMeter, std::int32_t& yPelsPerMeter)
{
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    auto toPelsPerMeter = [unit](float value) -> std::int32_t {
        if (unit == RESUNIT_INCH)
            return DpiToPelsPerMeter(static_cast<double>(value));
        if (unit == RESUNIT_CENTIMETER) {
            const double ppm = std::nearbyint(static_cast<double>(value) * 100.0);
            if (!(ppm > 0))
                return 0;
            return ppm >= std::numeric_limits<std::int32_t>::max()
                       ? std::numeric_limits<std::int32_t>::max()
                       : static_cast<std::int32_t>(ppm);
        }
        return 0;
    };
    float x = 0, y = 0;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x))
        xPelsPerMeter = toPelsPerMeter(x);
    if (TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y))
        yPelsPerMeter = toPelsPerMeter(y);
}

} // namespace pagewren
