// libjpeg leaves on errors by longjmp: Encoder::run keeps no C++ object with a destructor alive in
// its own frame; everything it uses lives in the Encoder.

#include "image/DirectJpegCopy.h"

#include "image/AtomicFile.h"
#include "image/Bitmap.h"
#include "image/DWImage.h"
#include "image/Resolution.h"
#include "image/TiffTags.h"

#include <tiffio.h>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <vector>

namespace pagewren {

namespace {

// libtiff's global message handlers print to standard error and are shared by every thread; each
// handle gets its own, which stay quiet: whatever fails here is reported by the general path.
int quiet(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

std::unique_ptr<TIFF, TiffCloser> openPage(const std::string& page)
{
    // Only regular files, as the general path reads them (opening a pipe could wait for ever).
    std::error_code error;
    if (!std::filesystem::is_regular_file(page, error))
        return nullptr;
    const std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quiet, nullptr);
    return std::unique_ptr<TIFF, TiffCloser>(TIFFOpenExt(page.c_str(), "r", options.get()));
}

struct PageLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t rowsPerStrip = 0;
    std::size_t stride = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
};

// Whether the page has the one layout taken here, which the image document reads strip by strip
// straight into 24-bit rows.
bool readLayout(TIFF* tiff, PageLayout& layout)
{
    const TiffLayoutTags tags = ReadTiffLayoutTags(tiff);
    const std::uint16_t bits = tags.bitsPerSample, samples = tags.samplesPerPixel;
    const std::uint16_t planar = tags.planar, orientation = tags.orientation;
    const std::uint16_t sampleFormat = tags.sampleFormat, compression = tags.compression;
    std::uint16_t photometric = tags.photometric;
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    const bool extra =
        TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0;
    const bool streamable = compression == COMPRESSION_NONE ||
                            compression == COMPRESSION_PACKBITS || compression == COMPRESSION_LZW ||
                            compression == COMPRESSION_ADOBE_DEFLATE ||
                            compression == COMPRESSION_DEFLATE;
    if (photometric != PHOTOMETRIC_RGB || bits != 8 || samples != 3 || extra ||
        planar != PLANARCONFIG_CONTIG || orientation != ORIENTATION_TOPLEFT ||
        (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) ||
        TIFFIsTiled(tiff) || !streamable)
        return false;

    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height))
        return false;
    // The image document's limits: a page beyond them is refused there.
    if (layout.width == 0 || layout.height == 0 || layout.width > Bitmap::kMaxDimension ||
        layout.height > Bitmap::kMaxDimension)
        return false;
    layout.stride = Bitmap::strideFor(static_cast<int>(layout.width), 24);
    if (layout.stride == 0 || layout.stride > Bitmap::kMaxBytes / layout.height ||
        static_cast<std::size_t>(TIFFScanlineSize64(tiff)) != layout.stride)
        return false;
    layout.rowsPerStrip = layout.height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &layout.rowsPerStrip);
    layout.rowsPerStrip = std::clamp<std::uint32_t>(layout.rowsPerStrip, 1, layout.height);
    // Strips come whole into memory: a page stored as one huge strip goes the general way.
    constexpr std::size_t kMaxStripBytes = std::size_t{64} << 20;
    if (layout.stride * layout.rowsPerStrip > kMaxStripBytes)
        return false;
    if (TIFFNumberOfStrips(tiff) < (layout.height - 1) / layout.rowsPerStrip + 1)
        return false;
    return true;
}

// A resolution file beside the page replaces the file's own resolution, as on loading.
void readResolution(TIFF* tiff, const std::string& page, PageLayout& layout)
{
    const std::string resolutionFile = TDWImage::ResolutionFileName(page);
    std::error_code error;
    if (std::filesystem::exists(resolutionFile, error) &&
        !std::filesystem::is_directory(resolutionFile, error)) {
        TDWImage document; // its empty bitmap only carries the resolution
        document.ReadResolutionFile(resolutionFile);
        layout.xPelsPerMeter = document.Bitmap().xPelsPerMeter();
        layout.yPelsPerMeter = document.Bitmap().yPelsPerMeter();
    } else {
        ReadTiffResolution(tiff, layout.xPelsPerMeter, layout.yPelsPerMeter);
    }
}

struct JpegError {
    jpeg_error_mgr manager; // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
};

[[noreturn]] void leave(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void ignoreMessage(j_common_ptr, int) {}
void printNothing(j_common_ptr) {}

class Encoder {
public:
    Encoder(TIFF* tiff, const PageLayout& layout)
        : m_tiff(tiff), m_layout(layout), m_strip(layout.stride * layout.rowsPerStrip),
          m_rows(layout.rowsPerStrip)
    {
        jpeg_std_error(&m_error.manager);
        m_error.manager.error_exit = leave;
        m_error.manager.emit_message = ignoreMessage;
        m_error.manager.output_message = printNothing;
        m_info.err = &m_error.manager;
    }
    ~Encoder() { jpeg_destroy_compress(&m_info); }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Settings as the image document's JPEG writer makes them for a 24-bit bitmap.
    bool run(std::FILE* file, int quality)
    {
        if (setjmp(m_error.jump))
            return false;
        jpeg_create_compress(&m_info);
        jpeg_stdio_dest(&m_info, file);
        m_info.image_width = m_layout.width;
        m_info.image_height = m_layout.height;
        m_info.input_components = 3;
        m_info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&m_info);
        jpeg_set_quality(&m_info, std::clamp(quality, 1, 100), TRUE);
        const std::uint32_t xDpi = PelsPerMeterToDpi(m_layout.xPelsPerMeter);
        const std::uint32_t yDpi = PelsPerMeterToDpi(m_layout.yPelsPerMeter);
        if (xDpi > 0 && yDpi > 0) {
            m_info.density_unit = 1;
            m_info.X_density = static_cast<UINT16>(std::min<std::uint32_t>(xDpi, 65535));
            m_info.Y_density = static_cast<UINT16>(std::min<std::uint32_t>(yDpi, 65535));
        }
        jpeg_start_compress(&m_info, TRUE);
        std::uint32_t strip = 0;
        for (std::uint32_t first = 0; first < m_layout.height; first += m_layout.rowsPerStrip) {
            const std::uint32_t rows = std::min(m_layout.rowsPerStrip, m_layout.height - first);
            const auto expected = static_cast<tmsize_t>(m_layout.stride * rows);
            if (TIFFReadEncodedStrip(m_tiff, strip++, m_strip.data(), expected) != expected)
                return false;
            for (std::uint32_t r = 0; r < rows; ++r)
                m_rows[r] = m_strip.data() + m_layout.stride * r;
            for (std::uint32_t done = 0; done < rows;) {
                const JDIMENSION written =
                    jpeg_write_scanlines(&m_info, m_rows.data() + done, rows - done);
                if (written == 0)
                    return false;
                done += written;
            }
        }
        jpeg_finish_compress(&m_info);
        return true;
    }

private:
    TIFF* m_tiff;
    const PageLayout& m_layout;
    std::vector<std::uint8_t> m_strip;
    std::vector<JSAMPROW> m_rows;
    jpeg_compress_struct m_info{};
    JpegError m_error{};
};

} // namespace

bool DirectJpegCopy::Write(const std::string& page, const std::string& copy, int quality) noexcept
{
    try {
        const auto tiff = openPage(page);
        PageLayout layout;
        if (!tiff || !readLayout(tiff.get(), layout))
            return false;
        readResolution(tiff.get(), page, layout);
        AtomicFile file(copy);
        Encoder encoder(tiff.get(), layout);
        if (!encoder.run(file.file(), quality))
            return false; // the temporary file goes with `file`
        file.commit(false);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace pagewren
