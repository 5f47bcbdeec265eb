// JPEG through libjpeg-turbo's classic API, which (unlike tjCompress2) writes the JFIF density.
// libjpeg leaves on errors by longjmp: the functions that call into it keep no C++ object with a
// destructor alive in their own frame, and everything they own lives in the coder object.

#include "image/Codecs.h"

#include "image/CodecSupport.h"
#include "image/Resolution.h"
#include "util/Error.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace pagewren::codecs {

namespace {

// Rows handed to libjpeg per call.
constexpr int kRowBatch = 16;

struct JpegError {
    jpeg_error_mgr manager; // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void leave(j_common_ptr info)
{
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
}

// Warnings are dropped, except running out of data: libjpeg would go on with grey pixels, while
// a truncated file must be reported as such.
void onMessage(j_common_ptr info, int level)
{
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        leave(info);
}

void printNothing(j_common_ptr) {}

// A progressive file can hold thousands of tiny scans, each of which costs a pass over all the
// coefficients; real files have a dozen or so.
constexpr int kMaxScans = 500;

void limitScans(j_common_ptr info)
{
    if (!info->is_decompressor)
        return;
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) {
        auto* error = reinterpret_cast<JpegError*>(info->err);
        std::snprintf(error->message, sizeof error->message, "more than %d scans", kMaxScans);
        std::longjmp(error->jump, 1);
    }
}

void installErrorHandlers(JpegError& error)
{
    jpeg_std_error(&error.manager);
    error.manager.error_exit = leave;
    error.manager.emit_message = onMessage;
    error.manager.output_message = printNothing;
    error.message[0] = '\0';
}

class JpegDecoder {
public:
    JpegDecoder()
    {
        installErrorHandlers(m_error);
        m_info.err = &m_error.manager;
    }
    ~JpegDecoder() { jpeg_destroy_decompress(&m_info); }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    Bitmap decode(ByteView data, const ImageReadOptions& options)
    {
        Bitmap bitmap;
        if (!run(data, options, bitmap))
            throw Error(std::string("Damaged JPEG file: ") + m_error.message);
        return bitmap;
    }

private:
    bool run(ByteView data, const ImageReadOptions& options, Bitmap& bitmap)
    {
        if (setjmp(m_error.jump))
            return false;
        jpeg_create_decompress(&m_info);
        m_progress.progress_monitor = limitScans;
        m_info.progress = &m_progress;
        // Progressive files buffer all coefficients; keep that within the same bound.
        m_info.mem->max_memory_to_use = static_cast<long>(
            std::min<std::size_t>(options.maxBytes, std::numeric_limits<long>::max()));
        jpeg_mem_src(&m_info, data.data(), static_cast<unsigned long>(data.size()));
        jpeg_read_header(&m_info, TRUE);

        int bits = 24;
        switch (m_info.num_components) {
        case 1:
            m_info.out_color_space = JCS_GRAYSCALE;
            bits = 8;
            break;
        case 3:
            m_info.out_color_space = JCS_RGB;
            break;
        case 4:
            m_info.out_color_space = JCS_CMYK;
            break;
        default:
            throw Error("Unsupported JPEG file: " + std::to_string(m_info.num_components) +
                        " colour components");
        }
        CheckBitmapSize(m_info.image_width, m_info.image_height, bits, options.maxBytes);
        jpeg_start_decompress(&m_info);
        bitmap = Bitmap(static_cast<int>(m_info.output_width),
                        static_cast<int>(m_info.output_height), bits);
        bitmap.setXPelsPerMeter(densityToPelsPerMeter(m_info.X_density));
        bitmap.setYPelsPerMeter(densityToPelsPerMeter(m_info.Y_density));

        if (m_info.out_color_space == JCS_CMYK)
            readCmyk(bitmap);
        else
            readDirect(bitmap);
        // Every pixel is in; whatever follows the last scan (normally just the end marker) is
        // not needed.
        jpeg_abort_decompress(&m_info);
        return true;
    }

    void readDirect(Bitmap& bitmap)
    {
        JSAMPROW rows[kRowBatch];
        while (m_info.output_scanline < m_info.output_height) {
            const auto first = m_info.output_scanline;
            const auto count = std::min<JDIMENSION>(kRowBatch, m_info.output_height - first);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] = bitmap.row(static_cast<int>(first + i));
            if (jpeg_read_scanlines(&m_info, rows, count) == 0)
                ERREXIT(&m_info, JERR_INPUT_EMPTY);
        }
    }

    void readCmyk(Bitmap& bitmap)
    {
        // Adobe's writers store CMYK inverted (0 is full ink); a file with their marker is read so.
        const bool inverted = m_info.saw_Adobe_marker;
        m_row.resize(static_cast<std::size_t>(m_info.output_width) * 4);
        JSAMPROW rows[1] = {m_row.data()};
        while (m_info.output_scanline < m_info.output_height) {
            const auto y = m_info.output_scanline;
            if (jpeg_read_scanlines(&m_info, rows, 1) == 0)
                ERREXIT(&m_info, JERR_INPUT_EMPTY);
            std::uint8_t* out = bitmap.row(static_cast<int>(y));
            for (std::size_t x = 0; x < m_info.output_width; ++x) {
                const std::uint8_t* cmyk = m_row.data() + 4 * x;
                for (int c = 0; c < 3; ++c) {
                    const unsigned ink = inverted ? cmyk[c] : 255u - cmyk[c];
                    const unsigned black = inverted ? cmyk[3] : 255u - cmyk[3];
                    out[3 * x + static_cast<std::size_t>(c)] =
                        static_cast<std::uint8_t>((ink * black + 127) / 255);
                }
            }
        }
    }

    std::int32_t densityToPelsPerMeter(UINT16 density) const
    {
        if (m_info.density_unit == 1)
            return DpiToPelsPerMeter(static_cast<std::uint32_t>(density));
        if (m_info.density_unit == 2)
            return static_cast<std::int32_t>(density) * 100;
        return 0; // an aspect ratio only
    }

    jpeg_decompress_struct m_info{};
    JpegError m_error{};
    jpeg_progress_mgr m_progress{};
    std::vector<std::uint8_t> m_row;
};

class JpegEncoder {
public:
    JpegEncoder()
    {
        installErrorHandlers(m_error);
        m_info.err = &m_error.manager;
    }
    ~JpegEncoder() { jpeg_destroy_compress(&m_info); }
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    void encode(const Bitmap& bitmap, std::FILE* file, int quality)
    {
        if (bitmap.isEmpty())
            throw Error("No image to write");
        if (!run(bitmap, file, std::clamp(quality, 1, 100)))
            throw Error(std::string("Cannot write the JPEG file: ") + m_error.message);
    }

private:
    bool run(const Bitmap& bitmap, std::FILE* file, int quality)
    {
        if (setjmp(m_error.jump))
            return false;
        jpeg_create_compress(&m_info);
        jpeg_stdio_dest(&m_info, file);
        m_info.image_width = static_cast<JDIMENSION>(bitmap.width());
        m_info.image_height = static_cast<JDIMENSION>(bitmap.height());

        const int bpp = bitmap.bitsPerPixel();
        // 24- and 32-bit rows go to libjpeg as they are; 1- and 8-bit rows are looked up in the
        // colour table one row at a time.
        const bool grey = bpp <= 8 && IsGreyscale(bitmap);
        m_direct = bpp == 24 || bpp == 32 || (bpp == 8 && bitmap.palette().empty());
        if (bpp == 24) {
            m_info.input_components = 3;
            m_info.in_color_space = JCS_RGB;
        } else if (bpp == 32) {
            m_info.input_components = 4;
            m_info.in_color_space = JCS_EXT_RGBX;
        } else if (grey) {
            m_info.input_components = 1;
            m_info.in_color_space = JCS_GRAYSCALE;
        } else {
            m_info.input_components = 3;
            m_info.in_color_space = JCS_RGB;
        }
        jpeg_set_defaults(&m_info);
        jpeg_set_quality(&m_info, quality, TRUE);
        const std::uint32_t xDpi = PelsPerMeterToDpi(bitmap.xPelsPerMeter());
        const std::uint32_t yDpi = PelsPerMeterToDpi(bitmap.yPelsPerMeter());
        if (xDpi > 0 && yDpi > 0) {
            m_info.density_unit = 1;
            m_info.X_density = static_cast<UINT16>(std::min<std::uint32_t>(xDpi, 65535));
            m_info.Y_density = static_cast<UINT16>(std::min<std::uint32_t>(yDpi, 65535));
        }
        if (!m_direct) {
            m_colours = ColourTable(bitmap);
            m_row.resize(static_cast<std::size_t>(bitmap.width()) *
                         static_cast<std::size_t>(m_info.input_components));
        }

        jpeg_start_compress(&m_info, TRUE);
        JSAMPROW rows[kRowBatch];
        while (m_info.next_scanline < m_info.image_height) {
            const auto first = m_info.next_scanline;
            JDIMENSION count = 1;
            if (m_direct) {
                count = std::min<JDIMENSION>(kRowBatch, m_info.image_height - first);
                // libjpeg takes non-const rows but only reads them.
                for (JDIMENSION i = 0; i < count; ++i)
                    rows[i] = const_cast<std::uint8_t*>(bitmap.row(static_cast<int>(first + i)));
            } else {
                expandRow(bitmap, static_cast<int>(first), grey);
                rows[0] = m_row.data();
            }
            jpeg_write_scanlines(&m_info, rows, count);
        }
        jpeg_finish_compress(&m_info);
        return true;
    }

    void expandRow(const Bitmap& bitmap, int y, bool grey)
    {
        const std::uint8_t* in = bitmap.row(y);
        const auto width = static_cast<std::size_t>(bitmap.width());
        for (std::size_t x = 0; x < width; ++x) {
            const PaletteEntry& colour = m_colours[bitmap.bitsPerPixel() == 1 ? Bit(in, x) : in[x]];
            if (grey) {
                m_row[x] = colour.red;
            } else {
                m_row[3 * x] = colour.red;
                m_row[3 * x + 1] = colour.green;
                m_row[3 * x + 2] = colour.blue;
            }
        }
    }

    jpeg_compress_struct m_info{};
    JpegError m_error{};
    bool m_direct = true;
    std::array<PaletteEntry, 256> m_colours{};
    std::vector<std::uint8_t> m_row;
};

} // namespace

bool IsJpeg(ByteView data)
{
    return data.size() >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff;
}

Bitmap DecodeJpeg(ByteView data, const ImageReadOptions& options)
{
    return JpegDecoder().decode(data, options);
}

void EncodeJpeg(const Bitmap& bitmap, std::FILE* file, int quality)
{
    JpegEncoder().encode(bitmap, file, quality);
}

} // namespace pagewren::codecs
