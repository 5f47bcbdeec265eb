#include "image/Bitmap.h"

#include "util/Error.h"

#include <algorithm>
#include <string>
#include <utility>

namespace pagewren {

std::size_t Bitmap::strideFor(int width, int bitsPerPixel)
{
    if (width <= 0 || width > kMaxDimension)
        return 0;
    switch (bitsPerPixel) {
    case 1:
    case 8:
    case 24:
    case 32:
        return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel) + 7) / 8;
    default:
        return 0;
    }
}

Bitmap::Bitmap(int width, int height, int bitsPerPixel)
{
    const std::size_t stride = strideFor(width, bitsPerPixel);
    if (stride == 0 || height <= 0 || height > kMaxDimension)
        throw Error("Unsupported bitmap: " + std::to_string(width) + " x " +
                    std::to_string(height) + " at " + std::to_string(bitsPerPixel) + " bits");
    if (stride > kMaxBytes / static_cast<std::size_t>(height))
        throw Error("Bitmap too large: " + std::to_string(width) + " x " + std::to_string(height));
    m_pixels =
        std::make_unique_for_overwrite<std::uint8_t[]>(stride * static_cast<std::size_t>(height));
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bitsPerPixel;
    m_stride = stride;
}

Bitmap::Bitmap(const Bitmap& other)
    : m_width(other.m_width), m_height(other.m_height), m_bitsPerPixel(other.m_bitsPerPixel),
      m_stride(other.m_stride), m_palette(other.m_palette), m_xPelsPerMeter(other.m_xPelsPerMeter),
      m_yPelsPerMeter(other.m_yPelsPerMeter)
{
    if (other.m_pixels) {
        m_pixels = std::make_unique_for_overwrite<std::uint8_t[]>(other.sizeBytes());
        std::copy_n(other.m_pixels.get(), other.sizeBytes(), m_pixels.get());
    }
}

Bitmap& Bitmap::operator=(const Bitmap& other)
{
    if (this != &other) {
        Bitmap copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Bitmap::Bitmap(Bitmap&& other) noexcept
    : m_width(std::exchange(other.m_width, 0)), m_height(std::exchange(other.m_height, 0)),
      m_bitsPerPixel(std::exchange(other.m_bitsPerPixel, 0)),
      m_stride(std::exchange(other.m_stride, 0)), m_pixels(std::move(other.m_pixels)),
      m_palette(std::move(other.m_palette)),
      m_xPelsPerMeter(std::exchange(other.m_xPelsPerMeter, 0)),
      m_yPelsPerMeter(std::exchange(other.m_yPelsPerMeter, 0))
{
}

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept
{
    m_width = std::exchange(other.m_width, 0);
    m_height = std::exchange(other.m_height, 0);
    m_bitsPerPixel = std::exchange(other.m_bitsPerPixel, 0);
    m_stride = std::exchange(other.m_stride, 0);
    m_pixels = std::move(other.m_pixels);
    m_palette = std::move(other.m_palette);
    m_xPelsPerMeter = std::exchange(other.m_xPelsPerMeter, 0);
    m_yPelsPerMeter = std::exchange(other.m_yPelsPerMeter, 0);
    return *this;
}

Bitmap::~Bitmap() = default;

bool operator==(const Bitmap& a, const Bitmap& b)
{
    if (a.m_width != b.m_width || a.m_height != b.m_height ||
        a.m_bitsPerPixel != b.m_bitsPerPixel || a.m_palette != b.m_palette ||
        a.m_xPelsPerMeter != b.m_xPelsPerMeter || a.m_yPelsPerMeter != b.m_yPelsPerMeter)
        return false;
    if (a.isEmpty())
        return true;
    const std::size_t bits =
        static_cast<std::size_t>(a.m_width) * static_cast<std::size_t>(a.m_bitsPerPixel);
    const std::size_t wholeBytes = bits / 8;
    const auto lastMask = static_cast<std::uint8_t>(0xff00 >> (bits % 8));
    for (int y = 0; y < a.m_height; ++y) {
        const std::uint8_t* rowA = a.row(y);
        const std::uint8_t* rowB = b.row(y);
        if (!std::equal(rowA, rowA + wholeBytes, rowB))
            return false;
        if (bits % 8 != 0 && ((rowA[wholeBytes] ^ rowB[wholeBytes]) & lastMask) != 0)
            return false;
    }
    return true;
}

} // namespace pagewren
