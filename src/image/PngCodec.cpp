// PNG through libpng. libpng leaves on errors by longjmp: the functions that call into it keep no
// C++ object with a destructor alive in their own frame, and everything they own lives in the
// coder object.

#include "image/Codecs.h"

#include "image/CodecSupport.h"
#include "util/Error.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace pagewren::codecs {

namespace {

struct PngMessages {
    std::string error;
};

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    if (messages->error.empty())
        messages->error = message ? message : "unknown error";
    // Returning would let libpng print the message before jumping.
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

struct MemoryReader {
    ByteView data;
    std::size_t position = 0;
};

void readFromMemory(png_structp png, png_bytep buffer, png_size_t size)
{
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (size > reader->data.size() - reader->position)
        png_error(png, "the file ends too early");
    std::memcpy(buffer, reader->data.data() + reader->position, size);
    reader->position += size;
}

class PngDecoder {
public:
    PngDecoder(ByteView data) : m_reader{data} {}
    ~PngDecoder()
    {
        if (m_png)
            png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr);
    }
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    Bitmap decode(const ImageReadOptions& options)
    {
        m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_messages, onError, onWarning);
        if (!m_png)
            throw std::bad_alloc();
        m_info = png_create_info_struct(m_png);
        if (!m_info)
            throw std::bad_alloc();
        if (!readHeader())
            throw Error("Damaged PNG file: " + m_messages.error);
        prepare(options);
        if (!readRows())
            throw Error("Damaged PNG file: " + m_messages.error);
        return std::move(m_bitmap);
    }

private:
    bool readHeader()
    {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        png_set_read_fn(m_png, &m_reader, readFromMemory);
        png_set_user_limits(m_png, Bitmap::kMaxDimension, Bitmap::kMaxDimension);
        png_read_info(m_png, m_info);
        m_width = png_get_image_width(m_png, m_info);
        m_height = png_get_image_height(m_png, m_info);
        m_bitDepth = png_get_bit_depth(m_png, m_info);
        m_colourType = png_get_color_type(m_png, m_info);
        m_channels = png_get_channels(m_png, m_info);
        m_transparency = png_get_valid(m_png, m_info, PNG_INFO_tRNS) != 0;
        m_interlaced = png_get_interlace_type(m_png, m_info) != PNG_INTERLACE_NONE;
        png_uint_32 x = 0, y = 0;
        int unit = 0;
        if (png_get_pHYs(m_png, m_info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER) {
            m_xPelsPerMeter = std::min<png_uint_32>(x, std::numeric_limits<std::int32_t>::max());
            m_yPelsPerMeter = std::min<png_uint_32>(y, std::numeric_limits<std::int32_t>::max());
        }
        if (m_colourType == PNG_COLOR_TYPE_PALETTE) {
            png_colorp colours = nullptr;
            int count = 0;
            if (png_get_PLTE(m_png, m_info, &colours, &count)) {
                for (int i = 0; i < count && i < 256; ++i)
                    m_palette.push_back({colours[i].red, colours[i].green, colours[i].blue});
            }
        }
        return true;
    }

    // Chooses the bitmap depth; outside libpng's error scope, so Error may be thrown here.
    void prepare(const ImageReadOptions& options)
    {
        // Deflate expands its input by at most 1032 times; a file too short for the rows it claims
        // is refused before anything is allocated for them.
        const std::uint64_t rowBytes =
            (static_cast<std::uint64_t>(m_width) * m_channels * m_bitDepth + 7) / 8 + 1;
        if (rowBytes * m_height > static_cast<std::uint64_t>(m_reader.data.size()) * 1033 + 4096)
            throw Error("Damaged PNG file: the image data is too short for " +
                        std::to_string(m_width) + " x " + std::to_string(m_height) + " pixels");

        if (m_colourType == PNG_COLOR_TYPE_PALETTE && !m_transparency)
            m_bits = m_bitDepth == 1 ? 1 : 8;
        else if (m_colourType == PNG_COLOR_TYPE_GRAY && !m_transparency)
            m_bits = m_bitDepth == 1 ? 1 : 8;
        else if (m_colourType == PNG_COLOR_TYPE_RGB && !m_transparency)
            m_bits = 24;
        else
            m_bits = 32; // anything with transparency
        CheckBitmapSize(m_width, m_height, m_bits, options.maxBytes);
        m_bitmap = Bitmap(static_cast<int>(m_width), static_cast<int>(m_height), m_bits);
        m_bitmap.setXPelsPerMeter(static_cast<std::int32_t>(m_xPelsPerMeter));
        m_bitmap.setYPelsPerMeter(static_cast<std::int32_t>(m_yPelsPerMeter));
        if (m_bits <= 8 && m_colourType == PNG_COLOR_TYPE_PALETTE)
            m_bitmap.palette() = m_palette;
        m_rows.resize(m_height);
        for (png_uint_32 y = 0; y < m_height; ++y)
            m_rows[y] = m_bitmap.row(static_cast<int>(y));
    }

    bool readRows()
    {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        if (m_bitDepth == 16)
            png_set_scale_16(m_png);
        if (m_bits == 8 && m_bitDepth < 8) {
            if (m_colourType == PNG_COLOR_TYPE_PALETTE)
                png_set_packing(m_png);
            else
                png_set_expand_gray_1_2_4_to_8(m_png);
        }
        if (m_bits == 32) {
            png_set_expand(m_png); // palette to RGB, tRNS to alpha
            if (m_colourType == PNG_COLOR_TYPE_GRAY || m_colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
                png_set_gray_to_rgb(m_png);
            png_set_add_alpha(m_png, 0xffff, PNG_FILLER_AFTER);
        }
        if (m_interlaced)
            png_set_interlace_handling(m_png);
        png_read_update_info(m_png, m_info);
        if (png_get_rowbytes(m_png, m_info) != m_bitmap.stride())
            png_error(m_png, "unexpected row size");
        png_read_image(m_png, m_rows.data());
        return true;
    }

    MemoryReader m_reader;
    PngMessages m_messages;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    png_uint_32 m_width = 0, m_height = 0;
    int m_bitDepth = 0, m_colourType = 0, m_channels = 0, m_bits = 0;
    bool m_transparency = false, m_interlaced = false;
    png_uint_32 m_xPelsPerMeter = 0, m_yPelsPerMeter = 0;
    std::vector<PaletteEntry> m_palette;
    Bitmap m_bitmap;
    std::vector<png_bytep> m_rows;
};

class PngEncoder {
public:
    PngEncoder() = default;
    ~PngEncoder()
    {
        if (m_png)
            png_destroy_write_struct(&m_png, m_info ? &m_info : nullptr);
    }
    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;

    void encode(const Bitmap& bitmap, std::FILE* file, int zlibLevel)
    {
        if (bitmap.isEmpty())
            throw Error("No image to write");
        m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_messages, onError, onWarning);
        if (!m_png)
            throw std::bad_alloc();
        m_info = png_create_info_struct(m_png);
        if (!m_info)
            throw std::bad_alloc();
        prepare(bitmap);
        if (!run(bitmap, file, std::clamp(zlibLevel, 0, 9)))
            throw Error("Cannot write the PNG file: " + m_messages.error);
    }

private:
    void prepare(const Bitmap& bitmap)
    {
        const int bpp = bitmap.bitsPerPixel();
        if (bpp <= 8 && !bitmap.palette().empty()) {
            // PNG needs an entry for every index in use; pad the palette with black up to the
            // largest one.
            const auto colours = ColourTable(bitmap);
            std::size_t used = bitmap.palette().size();
            if (bpp == 8) {
                std::uint8_t largest = 0;
                for (int y = 0; y < bitmap.height(); ++y) {
                    const std::uint8_t* row = bitmap.row(y);
                    largest = std::max(largest, *std::max_element(row, row + bitmap.width()));
                }
                used = std::max<std::size_t>(used, largest + 1u);
            }
            used = std::min<std::size_t>(used, std::size_t{1} << bpp);
            for (std::size_t i = 0; i < used; ++i)
                m_palette.push_back({colours[i].red, colours[i].green, colours[i].blue});
        }
        m_rows.resize(static_cast<std::size_t>(bitmap.height()));
        for (int y = 0; y < bitmap.height(); ++y)
            m_rows[static_cast<std::size_t>(y)] = const_cast<std::uint8_t*>(bitmap.row(y));
    }

    bool run(const Bitmap& bitmap, std::FILE* file, int zlibLevel)
    {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        png_init_io(m_png, file);
        const int bpp = bitmap.bitsPerPixel();
        int colourType = PNG_COLOR_TYPE_GRAY;
        if (bpp == 24)
            colourType = PNG_COLOR_TYPE_RGB;
        else if (bpp == 32)
            colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        else if (!m_palette.empty())
            colourType = PNG_COLOR_TYPE_PALETTE;
        png_set_IHDR(m_png, m_info, static_cast<png_uint_32>(bitmap.width()),
                     static_cast<png_uint_32>(bitmap.height()), bpp == 1 ? 1 : 8, colourType,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!m_palette.empty())
            png_set_PLTE(m_png, m_info, m_palette.data(), static_cast<int>(m_palette.size()));
        if (bitmap.xPelsPerMeter() > 0 || bitmap.yPelsPerMeter() > 0)
            png_set_pHYs(m_png, m_info,
                         static_cast<png_uint_32>(std::max(bitmap.xPelsPerMeter(), 0)),
                         static_cast<png_uint_32>(std::max(bitmap.yPelsPerMeter(), 0)),
                         PNG_RESOLUTION_METER);
        png_set_compression_level(m_png, zlibLevel);
        if (zlibLevel == 0)
            png_set_filter(m_png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        png_write_info(m_png, m_info);
        // libpng takes non-const rows but only reads them.
        png_write_image(m_png, m_rows.data());
        png_write_end(m_png, nullptr);
        return true;
    }

    PngMessages m_messages;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    std::vector<png_color> m_palette;
    std::vector<png_bytep> m_rows;
};

} // namespace

bool IsPng(ByteView data)
{
    return data.size() >= 8 && png_sig_cmp(data.data(), 0, 8) == 0;
}

Bitmap DecodePng(ByteView data, const ImageReadOptions& options)
{
    return PngDecoder(data).decode(options);
}

void EncodePng(const Bitmap& bitmap, std::FILE* file, int zlibLevel)
{
    PngEncoder().encode(bitmap, file, zlibLevel);
}

} // namespace pagewren::codecs
