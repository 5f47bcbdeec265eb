#include "image/Bitmap.h"

#include "util/Error.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pagewren {
namespace {

Bitmap Filled(int width, int height, int bits, std::uint8_t value)
{
    Bitmap bitmap(width, height, bits);
    std::fill_n(bitmap.data(), bitmap.sizeBytes(), value);
    return bitmap;
}

TEST(Bitmap, RowsArePackedWithoutPadding)
{
    struct Case {
        int width, bits;
        std::size_t stride;
    };
    const Case cases[] = {{1, 1, 1},   {8, 1, 1},     {9, 1, 2},    {37, 1, 5},
                          {37, 8, 37}, {37, 24, 111}, {37, 32, 148}};
    for (const Case& c : cases) {
        const Bitmap bitmap(c.width, 3, c.bits);
        EXPECT_EQ(bitmap.stride(), c.stride) << c.width << " at " << c.bits;
        EXPECT_EQ(bitmap.sizeBytes(), 3 * c.stride);
        EXPECT_EQ(bitmap.row(2) - bitmap.row(0), static_cast<std::ptrdiff_t>(2 * c.stride));
    }
}

TEST(Bitmap, RefusesImpossibleShapes)
{
    EXPECT_THROW(Bitmap(10, 10, 4), Error);
    EXPECT_THROW(Bitmap(0, 10, 8), Error);
    EXPECT_THROW(Bitmap(10, -1, 8), Error);
    EXPECT_THROW(Bitmap(Bitmap::kMaxDimension + 1, 1, 8), Error);
    EXPECT_THROW(Bitmap(Bitmap::kMaxDimension, Bitmap::kMaxDimension, 32), Error);
}

TEST(Bitmap, EqualityIsTheSamePicture)
{
    const Bitmap base = Filled(13, 2, 1, 0xa5);
    Bitmap otherPadding = base;
    otherPadding.row(0)[1] ^= 0x07; // the three bits after pixel 12
    EXPECT_TRUE(otherPadding == base);

    Bitmap otherPixel = base;
    otherPixel.row(1)[1] ^= 0x08; // pixel 12
    Bitmap otherPalette = base;
    otherPalette.palette() = {{0, 0, 0}, {255, 255, 255}};
    Bitmap otherResolution = base;
    otherResolution.setYPelsPerMeter(1);
    for (const Bitmap* different : {&otherPixel, &otherPalette, &otherResolution})
        EXPECT_FALSE(*different == base);
    EXPECT_FALSE(Filled(13, 2, 8, 0) == Filled(13, 2, 8, 1));
    EXPECT_FALSE(Filled(13, 2, 8, 0) == Filled(13, 3, 8, 0));
    EXPECT_TRUE(Bitmap() == Bitmap());
}

TEST(Bitmap, CopiesAreIndependentAndMovesEmpty)
{
    Bitmap original = Filled(4, 4, 24, 9);
    original.palette().push_back({1, 2, 3});
    Bitmap copy = original;
    copy.row(0)[0] = 1;
    EXPECT_EQ(original.row(0)[0], 9);
    Bitmap moved = std::move(original);
    EXPECT_TRUE(original.isEmpty());
    EXPECT_EQ(moved.row(3)[11], 9);
    EXPECT_EQ(moved.palette().size(), 1u);
}

} // namespace
} // namespace pagewren
