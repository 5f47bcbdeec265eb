#pragma once

#include <cstdint>

namespace pagewren {

// Pixels per metre for one dot per inch, as the Windows bitmap header counts them.
inline constexpr double kPelsPerMeterPerDpi = 39.370079;

// dpi x 39.370079, rounded to the nearest integer with an exact half going to the even neighbour.
// Computed in exact decimal arithmetic; saturates at the largest value a 32-bit header field holds.
std::int32_t DpiToPelsPerMeter(std::uint32_t dpi);

// A fractional resolution as image files store it (TIFF rationals); 0 for non-positive or
// non-finite values. Whole numbers give exactly what the integer overload gives.
std::int32_t DpiToPelsPerMeter(double dpi);

// ppm / 39.370079, rounded the same way; 0 for non-positive values.
std::uint32_t PelsPerMeterToDpi(std::int32_t pelsPerMeter);

} // namespace pagewren
