#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pagewren {

struct PaletteEntry {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// A device-independent bitmap: rows top to bottom, each row packed without padding.
//
// Pixel layout by depth:
//   1 bit   eight pixels per byte, leftmost in the most significant bit; index into the palette,
//           or 0 black / 1 white when the palette is empty
//   8 bits  index into the palette, or grey level (0 black) when the palette is empty
//   24 bits red, green, blue
//   32 bits red, green, blue, alpha
//
// The resolution is kept as pixels per metre, as a Windows bitmap header keeps it.
class Bitmap {
public:
    // Limits that keep a hostile file from making us allocate without bound.
    static constexpr int kMaxDimension = 1 << 17;
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;

    Bitmap() = default;
    // Pixels are left uninitialised. Throws Error for a depth not listed above, a non-positive or
    // too large dimension, or a size beyond kMaxBytes.
    Bitmap(int width, int height, int bitsPerPixel);

    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);
    // A bitmap moved from is empty.
    Bitmap(Bitmap&& other) noexcept;
    Bitmap& operator=(Bitmap&& other) noexcept;
    ~Bitmap();

    bool isEmpty() const { return m_width == 0; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int bitsPerPixel() const { return m_bitsPerPixel; }
    // Bytes per row.
    std::size_t stride() const { return m_stride; }
    std::size_t sizeBytes() const { return m_stride * static_cast<std::size_t>(m_height); }

    std::uint8_t* data() { return m_pixels.get(); }
    const std::uint8_t* data() const { return m_pixels.get(); }
    std::uint8_t* row(int y) { return m_pixels.get() + m_stride * static_cast<std::size_t>(y); }
    const std::uint8_t* row(int y) const
    {
        return m_pixels.get() + m_stride * static_cast<std::size_t>(y);
    }

    std::vector<PaletteEntry>& palette() { return m_palette; }
    const std::vector<PaletteEntry>& palette() const { return m_palette; }

    std::int32_t xPelsPerMeter() const { return m_xPelsPerMeter; }
    std::int32_t yPelsPerMeter() const { return m_yPelsPerMeter; }
    void setXPelsPerMeter(std::int32_t ppm) { m_xPelsPerMeter = ppm; }
    void setYPelsPerMeter(std::int32_t ppm) { m_yPelsPerMeter = ppm; }

    // Bytes per row for a width and depth; 0 when the combination is not allowed.
    static std::size_t strideFor(int width, int bitsPerPixel);

    // The same picture: size, depth, palette, resolution and every pixel. The unused bits at the
    // end of a 1-bit row do not count.
    friend bool operator==(const Bitmap& a, const Bitmap& b);

private:
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 0;
    std::size_t m_stride = 0;
    std::unique_ptr<std::uint8_t[]> m_pixels;
    std::vector<PaletteEntry> m_palette;
    std::int32_t m_xPelsPerMeter = 0;
    std::int32_t m_yPelsPerMeter = 0;
};

} // namespace pagewren
