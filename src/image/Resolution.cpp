#include "image/Resolution.h"

#include <cmath>
#include <limits>

namespace pagewren {

namespace {

// 39.370079 as an exact fraction.
constexpr std::uint64_t kFactorNumerator = 39370079;
constexpr std::uint64_t kFactorDenominator = 1000000;
constexpr std::int32_t kMaxPelsPerMeter = std::numeric_limits<std::int32_t>::max();

// numerator / denominator rounded to nearest, ties to even.
std::uint64_t divideRoundHalfEven(std::uint64_t numerator, std::uint64_t denominator)
{
    std::uint64_t quotient = numerator / denominator;
    const std::uint64_t twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 == 1))
        ++quotient;
    return quotient;
}

} // namespace

std::int32_t DpiToPelsPerMeter(std::uint32_t dpi)
{
    const std::uint64_t ppm = divideRoundHalfEven(dpi * kFactorNumerator, kFactorDenominator);
    return ppm > static_cast<std::uint64_t>(kMaxPelsPerMeter) ? kMaxPelsPerMeter
                                                              : static_cast<std::int32_t>(ppm);
}

std::int32_t DpiToPelsPerMeter(double dpi)
{
    if (!std::isfinite(dpi) || dpi <= 0)
        return 0;
    if (dpi <= std::numeric_limits<std::uint32_t>::max() && dpi == std::floor(dpi))
        return DpiToPelsPerMeter(static_cast<std::uint32_t>(dpi));
    // nearbyint rounds ties to even in the default rounding mode.
    const double ppm = std::nearbyint(dpi * kPelsPerMeterPerDpi);
    return ppm >= kMaxPelsPerMeter ? kMaxPelsPerMeter : static_cast<std::int32_t>(ppm);
}

std::uint32_t PelsPerMeterToDpi(std::int32_t pelsPerMeter)
{
    if (pelsPerMeter <= 0)
        return 0;
    return static_cast<std::uint32_t>(divideRoundHalfEven(
        static_cast<std::uint64_t>(pelsPerMeter) * kFactorDenominator, kFactorNumerator));
}

} // namespace pagewren
