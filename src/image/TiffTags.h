#pragma once

#include <tiffio.h>

#include <cstdint>

namespace pagewren {

// The tags that decide how a TIFF's pixels are laid out, with libtiff's defaults for missing ones.
// A missing photometric tag is taken as RGB for three or more samples, else as grey.
struct TiffLayoutTags {
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t photometric = 0;
};
TiffLayoutTags ReadTiffLayoutTags(TIFF* tiff);

// The resolution a TIFF's tags give, in pixels per metre (inches or centimetres; no unit gives 0).
// An axis whose tag is missing keeps the value passed in.
void ReadTiffResolution(TIFF* tiff, std::int32_t& xPelsPerMeter, std::int32_t& yPelsPerMeter);

} // namespace pagewren
