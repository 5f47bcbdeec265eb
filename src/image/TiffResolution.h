#pragma once

#include <tiffio.h>

#include <cstdint>

namespace pagewren {

// The resolution a TIFF's tags give, in pixels per metre (inches or centimetres; no unit gives 0).
// An axis whose tag is missing keeps the value passed in.
void ReadTiffResolution(TIFF* tiff, std::int32_t& xPelsPerMeter, std::int32_t& yPelsPerMeter);

} // namespace pagewren
