#include "image/Resolution.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace pagewren {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(Resolution, DotsPerInchToPixelsPerMetre)
{
    struct Case {
        std::uint32_t dpi;
        std::int32_t ppm;
    };
    const Case cases[] = {
        {0, 0},
        {1, 39},
        {72, 2835},
        {100, 3937},
        {200, 7874},
        {300, 11811},
        {600, 23622},
        // Exact halves go to the even neighbour: 19685039.5 up, 59055118.5 down. Binary floating
        // point gets the first one wrong.
        {500000, 19685040},
        {1500000, 59055118},
        {54546084, 2147483636},
        // Beyond what a 32-bit header field holds.
        {54546085, kMax},
        {std::numeric_limits<std::uint32_t>::max(), kMax},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DpiToPelsPerMeter(c.dpi), c.ppm) << c.dpi << " dpi";
}

TEST(Resolution, PixelsPerMetreToDotsPerInch)
{
    struct Case {
        std::int32_t ppm;
        std::uint32_t dpi;
    };
    const Case cases[] =
        {
            {2835, 72},   {3937, 100}, {7874, 200},  {11811, 300},
            {23622, 600}, {19, 0},     {20, 1},      {kMax, 54546084u},
            {0, 0},       {-11811, 0}, {11830, 300}, {11831, 301}, // 300.48 and 300.51 dpi
        };
    for (const Case& c : cases)
        EXPECT_EQ(PelsPerMeterToDpi(c.ppm), c.dpi) << c.ppm << " ppm";
}

TEST(Resolution, FractionalDotsPerInch)
{
    struct Case {
        double dpi;
        std::int32_t ppm;
    };
    const Case cases[] = {
        {300.0, 11811},
        {299.9994, 11811},
        {72.5, 2854},
        {500000.0, 19685040}, // whole numbers take the exact path
        {-1.0, 0},
        {0.0, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {1e12, kMax},
        {std::numeric_limits<double>::infinity(), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DpiToPelsPerMeter(c.dpi), c.ppm) << c.dpi << " dpi";
}

} // namespace
} // namespace pagewren
