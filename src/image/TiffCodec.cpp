// TIFF through libtiff. Common layouts are decoded strip by strip (or tile by tile) straight into
// the bitmap's rows; anything else goes through libtiff's RGBA interface.

#include "image/Codecs.h"

#include "image/CodecSupport.h"
#include "image/Resolution.h"
#include "image/TiffTags.h"
#include "util/Error.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace pagewren::codecs {

namespace {

// Messages of one TIFF handle. libtiff's global handlers print to stderr and are shared by all
// threads, so each handle gets its own.
struct TiffMessages {
    std::string error;
    // libtiff reads on without a tag whose data lies beyond the end of the file (a colour map,
    // the resolution); for us such a file is truncated.
    std::string truncation;
};

std::string formatMessage(const char* module, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    if (module && *module && std::strcmp(module, "TIFF") != 0)
        return std::string(module) + ": " + text;
    return text;
}

int collectError(TIFF*, void* user, const char* module, const char* format, va_list arguments)
{
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages->error.empty())
        messages->error = formatMessage(module, format, arguments);
    return 1;
}

int collectTruncation(TIFF*, void* user, const char* module, const char* format, va_list arguments)
{
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages->truncation.empty() && std::strstr(format, "IO error") != nullptr)
        messages->truncation = formatMessage(module, format, arguments);
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

std::unique_ptr<TIFFOpenOptions, OptionsDeleter> openOptions(TiffMessages& messages,
                                                             std::size_t maxBytes)
{
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options)
        throw std::bad_alloc();
    const auto limit = static_cast<tmsize_t>(
        std::min<std::size_t>(maxBytes, std::numeric_limits<tmsize_t>::max()));
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), limit);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), collectError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), collectTruncation, &messages);
    return options;
}

// Reading from memory. Mapping hands libtiff the bytes themselves, so strips are decoded from the
// (usually memory-mapped) file without a copy.
struct MemorySource {
    ByteView data;
    toff_t position = 0;
};

tmsize_t memoryRead(thandle_t handle, void* buffer, tmsize_t size)
{
    auto* source = static_cast<MemorySource*>(handle);
    if (size <= 0 || source->position >= source->data.size())
        return 0;
    const auto count = static_cast<std::size_t>(
        std::min<toff_t>(static_cast<toff_t>(size), source->data.size() - source->position));
    std::memcpy(buffer, source->data.data() + source->position, count);
    source->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t)
{
    return -1;
}

toff_t memorySeek(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<MemorySource*>(handle);
    // libtiff passes negative relative offsets as large unsigned values.
    const auto delta = static_cast<std::int64_t>(offset);
    std::int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<std::int64_t>(source->position);
    else if (whence == SEEK_END)
        base = static_cast<std::int64_t>(source->data.size());
    if ((delta > 0 && base > std::numeric_limits<std::int64_t>::max() - delta) || base + delta < 0)
        return static_cast<toff_t>(-1);
    source->position = static_cast<toff_t>(base + delta);
    return source->position;
}

int closeNothing(thandle_t)
{
    return 0;
}

toff_t memorySize(thandle_t handle)
{
    return static_cast<MemorySource*>(handle)->data.size();
}

int memoryMap(thandle_t handle, void** base, toff_t* size)
{
    auto* source = static_cast<MemorySource*>(handle);
    *base = const_cast<std::uint8_t*>(source->data.data());
    *size = source->data.size();
    return 1;
}

void memoryUnmap(thandle_t, void*, toff_t) {}

// Throws what we were doing, with libtiff's own explanation when it gave one.
[[noreturn]] void fail(const TiffMessages& messages, const std::string& what)
{
    throw Error(messages.error.empty() ? what : what + ": " + messages.error);
}

// How a row of samples as libtiff delivers them becomes a bitmap row.
enum class Layout {
    Bilevel, // 1-bit grey or palette -> 1-bit
    Index,   // 2/4/8-bit palette -> 8-bit index
    Grey,    // 2/4/8/16-bit grey -> 8-bit grey
    Colour,  // 8/16-bit RGB(A) -> 24 or 32 bits
};

struct RowFormat {
    Layout layout = Layout::Grey;
    int bitsPerSample = 8;
    int samplesPerPixel = 1;
    bool invert = false;    // white is zero
    int outputChannels = 1; // for Colour
    int outputBits = 8;     // bitmap depth

    // The decoded row already has the bitmap's layout, so strips can land in the bitmap itself.
    bool direct() const
    {
        if (invert)
            return false;
        switch (layout) {
        case Layout::Bilevel:
            return true;
        case Layout::Index:
        case Layout::Grey:
            return bitsPerSample == 8;
        case Layout::Colour:
            return bitsPerSample == 8 && samplesPerPixel == outputChannels;
        }
        return false;
    }

    // Converts count pixels starting at src into the bitmap row dst from pixel first on. first is
    // a multiple of 8 (strips start at 0, tiles at multiples of their width).
    void convert(const std::uint8_t* src, std::uint8_t* dst, std::size_t first,
                 std::size_t count) const
    {
        switch (layout) {
        case Layout::Bilevel: {
            std::uint8_t* out = dst + first / 8;
            const std::size_t bytes = (count + 7) / 8;
            if (invert) {
                for (std::size_t i = 0; i < bytes; ++i)
                    out[i] = static_cast<std::uint8_t>(~src[i]);
            } else {
                std::memcpy(out, src, bytes);
            }
            return;
        }
        case Layout::Index:
        case Layout::Grey:
            convertSingle(src, dst + first, count);
            return;
        case Layout::Colour:
            convertColour(src, dst + first * static_cast<std::size_t>(outputChannels), count);
            return;
        }
    }

private:
    void convertSingle(const std::uint8_t* src, std::uint8_t* out, std::size_t count) const
    {
        const auto flip = static_cast<std::uint8_t>(invert ? 0xff : 0);
        if (bitsPerSample == 8) {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = src[i] ^ flip;
        } else if (bitsPerSample == 16) {
            for (std::size_t i = 0; i < count; ++i) {
                std::uint16_t sample;
                std::memcpy(&sample, src + 2 * i, 2);
                out[i] = Scale16To8(sample) ^ flip;
            }
        } else {
            const auto bits = static_cast<std::size_t>(bitsPerSample);
            const unsigned mask = (1u << bits) - 1;
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t bit = i * bits;
                const unsigned value = (src[bit / 8] >> (8 - bits - bit % 8)) & mask;
                out[i] = layout == Layout::Index
                             ? static_cast<std::uint8_t>(value)
                             : static_cast<std::uint8_t>(value * 255 / mask) ^ flip;
            }
        }
    }

    void convertColour(const std::uint8_t* src, std::uint8_t* out, std::size_t count) const
    {
        const auto channels = static_cast<std::size_t>(outputChannels);
        const auto samples = static_cast<std::size_t>(samplesPerPixel);
        if (bitsPerSample == 8) {
            for (std::size_t i = 0; i < count; ++i)
                std::memcpy(out + i * channels, src + i * samples, channels);
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                for (std::size_t c = 0; c < channels; ++c) {
                    std::uint16_t sample;
                    std::memcpy(&sample, src + 2 * (i * samples + c), 2);
                    out[i * channels + c] = Scale16To8(sample);
                }
            }
        }
    }
};

class TiffReader {
public:
    TiffReader(TIFF* tiff, const TiffMessages& messages, const ImageReadOptions& options,
               std::uint64_t fileSize)
        : m_tiff(tiff), m_messages(messages), m_options(options), m_fileSize(fileSize)
    {
    }

    Bitmap read()
    {
        std::uint32_t width = 0, height = 0;
        if (!TIFFGetField(m_tiff, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(m_tiff, TIFFTAG_IMAGELENGTH, &height))
            fail(m_messages, "Damaged TIFF file: no image size");
        CheckBitmapSize(width, height, 1, m_options.maxBytes);
        m_width = width;
        m_height = height;
        checkDataSuffices();

        Bitmap bitmap;
        RowFormat format;
        if (chooseRowFormat(format)) {
            CheckBitmapSize(width, height, format.outputBits, m_options.maxBytes);
            bitmap = Bitmap(static_cast<int>(width), static_cast<int>(height), format.outputBits);
            readPalette(format, bitmap);
            if (TIFFIsTiled(m_tiff))
                readTiles(format, bitmap);
            else
                readStrips(format, bitmap);
            TrimPaletteToUse(bitmap);
        } else {
            bitmap = readRgba();
        }
        readResolution(bitmap);
        return bitmap;
    }

private:
    // Refuses a file whose compressed data cannot hold the image it claims before anything is
    // allocated for it: each scheme below expands its input by a bounded factor at most.
    void checkDataSuffices() const
    {
        std::uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_COMPRESSION, &compression);
        std::uint64_t expansion = 0;
        switch (compression) {
        case COMPRESSION_NONE:
            expansion = 1;
            break;
        case COMPRESSION_PACKBITS:
            expansion = 64; // two bytes give at most 128
            break;
        case COMPRESSION_LZW:
            expansion = 3641; // a code of at least 9 bits gives at most 4096 bytes
            break;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            expansion = 1033;
            break;
        default:
            return;
        }
        const bool tiled = TIFFIsTiled(m_tiff);
        const std::uint32_t chunks = tiled ? TIFFNumberOfTiles(m_tiff) : TIFFNumberOfStrips(m_tiff);
        std::uint64_t* byteCounts = nullptr;
        if (!TIFFGetField(m_tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS,
                          &byteCounts) ||
            !byteCounts)
            fail(m_messages, "Damaged TIFF file: no image data");
        std::uint64_t available = 0;
        for (std::uint32_t i = 0; i < chunks; ++i)
            available += std::min(byteCounts[i], m_fileSize);
        const std::uint64_t needed =
            tiled ? static_cast<std::uint64_t>(TIFFTileSize64(m_tiff)) * chunks
                  : static_cast<std::uint64_t>(TIFFScanlineSize64(m_tiff)) * m_height;
        // Uncompressed strips must hold every row; the slack covers per-row coding overhead.
        const std::uint64_t slack = expansion == 1 ? 0 : 4096;
        if (available > (std::numeric_limits<std::uint64_t>::max() - slack) / expansion)
            return;
        if (needed > available * expansion + slack)
            throw Error("Damaged TIFF file: the image data is too short for " +
                        std::to_string(m_width) + " x " + std::to_string(m_height) + " pixels");
    }

    // Picks the direct layouts; false sends the image through the RGBA interface.
    bool chooseRowFormat(RowFormat& format)
    {
        const TiffLayoutTags tags = ReadTiffLayoutTags(m_tiff);
        const std::uint16_t bits = tags.bitsPerSample, samples = tags.samplesPerPixel;
        const std::uint16_t planar = tags.planar, orientation = tags.orientation;
        const std::uint16_t sampleFormat = tags.sampleFormat, compression = tags.compression;
        std::uint16_t photometric = tags.photometric;

        if (orientation != ORIENTATION_TOPLEFT ||
            (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) ||
            (samples > 1 && planar != PLANARCONFIG_CONTIG))
            return false;
        if (TIFFIsTiled(m_tiff)) {
            std::uint32_t tileWidth = 0;
            TIFFGetField(m_tiff, TIFFTAG_TILEWIDTH, &tileWidth);
            // Tiles must start on whole bytes of a packed row.
            if (tileWidth == 0 || tileWidth % 8 != 0)
                return false;
        }
        if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
            // Let the JPEG codec convert to RGB; libtiff then reports RGB row sizes.
            if (!TIFFSetField(m_tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
                return false;
            photometric = PHOTOMETRIC_RGB;
        }

        format.bitsPerSample = bits;
        format.samplesPerPixel = samples;
        switch (photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
            if (samples != 1 || (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16))
                return false;
            format.invert = photometric == PHOTOMETRIC_MINISWHITE;
            format.layout = bits == 1 ? Layout::Bilevel : Layout::Grey;
            format.outputBits = bits == 1 ? 1 : 8;
            return true;
        case PHOTOMETRIC_PALETTE:
            if (samples != 1 || (bits != 1 && bits != 2 && bits != 4 && bits != 8))
                return false;
            format.layout = bits == 1 ? Layout::Bilevel : Layout::Index;
            format.outputBits = bits == 1 ? 1 : 8;
            return true;
        case PHOTOMETRIC_RGB: {
            if (samples < 3 || (bits != 8 && bits != 16))
                return false;
            format.layout = Layout::Colour;
            format.outputChannels = hasAlpha(samples) ? 4 : 3;
            format.outputBits = format.outputChannels * 8;
            return true;
        }
        default:
            return false;
        }
    }

    bool hasAlpha(std::uint16_t samples) const
    {
        std::uint16_t count = 0;
        std::uint16_t* types = nullptr;
        if (!TIFFGetField(m_tiff, TIFFTAG_EXTRASAMPLES, &count, &types) || count == 0)
            return samples == 4; // as libtiff assumes for RGB with a fourth sample
        return samples >= 4 &&
               (types[0] == EXTRASAMPLE_ASSOCALPHA || types[0] == EXTRASAMPLE_UNASSALPHA);
    }

    void readPalette(const RowFormat& format, Bitmap& bitmap) const
    {
        std::uint16_t photometric = 0;
        TIFFGetField(m_tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        if (photometric != PHOTOMETRIC_PALETTE)
            return;
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(m_tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            fail(m_messages, "Damaged TIFF file: palette image without a colour map");
        const std::size_t entries = std::size_t{1} << format.bitsPerSample;
        // Some writers store 8-bit values in the 16-bit colour map; libtiff reads them the same
        // way: when no entry exceeds 255, the values are taken as they are.
        const bool eightBit = std::all_of(red, red + entries, [](auto v) { return v < 256; }) &&
                              std::all_of(green, green + entries, [](auto v) { return v < 256; }) &&
                              std::all_of(blue, blue + entries, [](auto v) { return v < 256; });
        auto scale = [eightBit](std::uint16_t v) {
            return eightBit ? static_cast<std::uint8_t>(v) : Scale16To8(v);
        };
        auto& palette = bitmap.palette();
        palette.resize(entries);
        for (std::size_t i = 0; i < entries; ++i)
            palette[i] = {scale(red[i]), scale(green[i]), scale(blue[i])};
    }

    void readStrips(const RowFormat& format, Bitmap& bitmap)
    {
        std::uint32_t rowsPerStrip = m_height;
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, m_height);
        const auto scanline = static_cast<std::size_t>(TIFFScanlineSize64(m_tiff));
        if (scanline == 0)
            fail(m_messages, "Damaged TIFF file: bad row size");
        const bool direct = format.direct() && scanline == bitmap.stride();
        std::vector<std::uint8_t> buffer;
        if (!direct) {
            // Samples the bitmap does not keep (16 bits, extra channels) can make a strip much
            // larger than its share of the bitmap.
            if (scanline > m_options.maxBytes / rowsPerStrip)
                throw Error("Image too large: strips of " + std::to_string(rowsPerStrip) +
                            " rows of " + std::to_string(scanline) + " bytes");
            buffer.resize(scanline * rowsPerStrip);
        }
        const std::uint32_t strips = TIFFNumberOfStrips(m_tiff);
        for (std::uint32_t first = 0, strip = 0; first < m_height; first += rowsPerStrip, ++strip) {
            if (strip >= strips)
                fail(m_messages, "Damaged TIFF file: missing strips");
            const std::uint32_t rows = std::min(rowsPerStrip, m_height - first);
            const auto expected = static_cast<tmsize_t>(scanline * rows);
            std::uint8_t* target = direct ? bitmap.row(static_cast<int>(first)) : buffer.data();
            if (TIFFReadEncodedStrip(m_tiff, strip, target, expected) != expected)
                fail(m_messages,
                     "Damaged TIFF file: strip " + std::to_string(strip) + " cannot be read");
            if (!direct) {
                for (std::uint32_t r = 0; r < rows; ++r)
                    format.convert(buffer.data() + r * scanline,
                                   bitmap.row(static_cast<int>(first + r)), 0, m_width);
            }
        }
    }

    void readTiles(const RowFormat& format, Bitmap& bitmap)
    {
        std::uint32_t tileWidth = 0, tileHeight = 0;
        TIFFGetField(m_tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(m_tiff, TIFFTAG_TILELENGTH, &tileHeight);
        const auto tileSize = static_cast<std::size_t>(TIFFTileSize64(m_tiff));
        const auto tileRow = static_cast<std::size_t>(TIFFTileRowSize64(m_tiff));
        if (tileWidth == 0 || tileHeight == 0 || tileSize == 0 || tileRow == 0 ||
            tileSize / tileRow < tileHeight)
            fail(m_messages, "Damaged TIFF file: bad tile size");
        if (tileSize > m_options.maxBytes)
            throw Error("Image too large: tiles of " + std::to_string(tileWidth) + " x " +
                        std::to_string(tileHeight));
        std::vector<std::uint8_t> buffer(tileSize);
        for (std::uint32_t y = 0; y < m_height; y += tileHeight) {
            for (std::uint32_t x = 0; x < m_width; x += tileWidth) {
                const std::uint32_t tile = TIFFComputeTile(m_tiff, x, y, 0, 0);
                if (TIFFReadEncodedTile(m_tiff, tile, buffer.data(),
                                        static_cast<tmsize_t>(tileSize)) !=
                    static_cast<tmsize_t>(tileSize))
                    fail(m_messages,
                         "Damaged TIFF file: tile " + std::to_string(tile) + " cannot be read");
                const std::uint32_t rows = std::min(tileHeight, m_height - y);
                const std::uint32_t columns = std::min(tileWidth, m_width - x);
                for (std::uint32_t r = 0; r < rows; ++r)
                    format.convert(buffer.data() + r * tileRow, bitmap.row(static_cast<int>(y + r)),
                                   x, columns);
            }
        }
    }

    Bitmap readRgba()
    {
        char message[1024] = "";
        if (!TIFFRGBAImageOK(m_tiff, message))
            throw Error(std::string("Unsupported TIFF file: ") + message);
        TIFFRGBAImage image{};
        if (!TIFFRGBAImageBegin(&image, m_tiff, 1, message)) // stop at the first damaged strip
            throw Error(std::string("Unsupported TIFF file: ") + message);
        struct End {
            TIFFRGBAImage* image;
            ~End() { TIFFRGBAImageEnd(image); }
        } end{&image};
        image.req_orientation = ORIENTATION_TOPLEFT;
        const bool alpha = image.alpha != 0;
        CheckBitmapSize(m_width, m_height, 32, m_options.maxBytes);
        // Left uninitialised: a file that claims a large image and then fails must not cost the
        // time of clearing it.
        auto raster = std::make_unique_for_overwrite<std::uint32_t[]>(
            static_cast<std::size_t>(m_width) * m_height);
        if (!TIFFRGBAImageGet(&image, raster.get(), m_width, m_height))
            fail(m_messages, "Damaged TIFF file: the image cannot be read");

        Bitmap bitmap(static_cast<int>(m_width), static_cast<int>(m_height), alpha ? 32 : 24);
        const std::size_t channels = alpha ? 4 : 3;
        for (std::uint32_t y = 0; y < m_height; ++y) {
            const std::uint32_t* in = raster.get() + static_cast<std::size_t>(y) * m_width;
            std::uint8_t* out = bitmap.row(static_cast<int>(y));
            for (std::uint32_t x = 0; x < m_width; ++x, out += channels) {
                out[0] = static_cast<std::uint8_t>(TIFFGetR(in[x]));
                out[1] = static_cast<std::uint8_t>(TIFFGetG(in[x]));
                out[2] = static_cast<std::uint8_t>(TIFFGetB(in[x]));
                if (alpha)
                    out[3] = static_cast<std::uint8_t>(TIFFGetA(in[x]));
            }
        }
        return bitmap;
    }

    void readResolution(Bitmap& bitmap) const
    {
        std::int32_t x = bitmap.xPelsPerMeter();
        std::int32_t y = bitmap.yPelsPerMeter();
        ReadTiffResolution(m_tiff, x, y);
        bitmap.setXPelsPerMeter(x);
        bitmap.setYPelsPerMeter(y);
    }

    TIFF* m_tiff;
    const TiffMessages& m_messages;
    const ImageReadOptions& m_options;
    std::uint64_t m_fileSize;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
};

// Writing to an open file.
tmsize_t fileRead(thandle_t handle, void* buffer, tmsize_t size)
{
    return static_cast<tmsize_t>(
        std::fread(buffer, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(handle)));
}

tmsize_t fileWrite(thandle_t handle, void* buffer, tmsize_t size)
{
    const std::size_t written =
        std::fwrite(buffer, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(handle));
    return written == static_cast<std::size_t>(size) ? size : -1;
}

int seekFile(std::FILE* file, std::int64_t offset, int whence)
{
#ifdef _WIN32
    return _fseeki64(file, offset, whence);
#else
    return ::fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

std::int64_t tellFile(std::FILE* file)
{
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ::ftello(file);
#endif
}

toff_t fileSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<std::FILE*>(handle);
    if (seekFile(file, static_cast<std::int64_t>(offset), whence) != 0)
        return static_cast<toff_t>(-1);
    return static_cast<toff_t>(tellFile(file));
}

toff_t fileSize(thandle_t handle)
{
    auto* file = static_cast<std::FILE*>(handle);
    const std::int64_t position = tellFile(file);
    if (position < 0 || seekFile(file, 0, SEEK_END) != 0)
        return 0;
    const std::int64_t size = tellFile(file);
    seekFile(file, position, SEEK_SET);
    return size < 0 ? 0 : static_cast<toff_t>(size);
}

// The resolution to store for a pixels-per-metre value: the whole number of dots per inch it came
// from (11811 is 300 dpi, not 299.9994), else the exact quotient.
double DotsPerInch(std::int32_t pelsPerMeter)
{
    if (pelsPerMeter <= 0)
        return 0;
    const std::uint32_t whole = PelsPerMeterToDpi(pelsPerMeter);
    if (DpiToPelsPerMeter(whole) == pelsPerMeter)
        return whole;
    return pelsPerMeter / kPelsPerMeterPerDpi;
}

int noMap(thandle_t, void**, toff_t*)
{
    return 0;
}

} // namespace

bool IsTiff(ByteView data)
{
    if (data.size() < 4)
        return false;
    const bool little =
        data[0] == 'I' && data[1] == 'I' && data[3] == 0 && (data[2] == 42 || data[2] == 43);
    const bool big =
        data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43);
    return little || big;
}

Bitmap DecodeTiff(ByteView data, const ImageReadOptions& options)
{
    TiffMessages messages;
    auto openOptionsHandle = openOptions(messages, options.maxBytes);
    MemorySource source{data};
    TiffHandle tiff(TIFFClientOpenExt("TIFF", "r", &source, memoryRead, refuseWrite, memorySeek,
                                      closeNothing, memorySize, memoryMap, memoryUnmap,
                                      openOptionsHandle.get()));
    if (!tiff)
        fail(messages, "Damaged TIFF file");
    if (!messages.truncation.empty())
        throw Error("Damaged TIFF file: " + messages.truncation);
    return TiffReader(tiff.get(), messages, options, data.size()).read();
}

void EncodeTiff(const Bitmap& bitmap, std::FILE* file, ImageCompression compression)
{
    std::uint16_t scheme = COMPRESSION_NONE;
    switch (compression) {
    case ImageCompression::None:
        break;
    case ImageCompression::PackBits:
        scheme = COMPRESSION_PACKBITS;
        break;
    case ImageCompression::Lzw:
        scheme = COMPRESSION_LZW;
        break;
    default:
        throw Error("TIFF files cannot take this compression");
    }
    if (bitmap.isEmpty())
        throw Error("No image to write");

    TiffMessages messages;
    auto openOptionsHandle = openOptions(messages, Bitmap::kMaxBytes);
    TiffHandle tiff(TIFFClientOpenExt("TIFF", "w", file, fileRead, fileWrite, fileSeek,
                                      closeNothing, fileSize, noMap, memoryUnmap,
                                      openOptionsHandle.get()));
    if (!tiff)
        fail(messages, "Cannot start a TIFF file");
    TIFF* t = tiff.get();

    const int bpp = bitmap.bitsPerPixel();
    const bool rgb = bpp == 24 || bpp == 32;
    const auto& palette = bitmap.palette();
    // Larger strips than libtiff's default of one row make PackBits and LZW markedly faster.
    constexpr std::uint32_t kRowsPerStrip = 64;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(bitmap.width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(bitmap.height()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(rgb ? 8 : bpp));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(rgb ? bpp / 8 : 1));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, scheme);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (rgb) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        if (bpp == 32) {
            const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
    } else if (palette.empty()) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    } else {
        // A TIFF colour map has 2^bits entries of 16 bits each.
        const auto colours = ColourTable(bitmap);
        const std::size_t entries = std::size_t{1} << bpp;
        std::vector<std::uint16_t> red(entries), green(entries), blue(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            red[i] = static_cast<std::uint16_t>(colours[i].red * 257);
            green[i] = static_cast<std::uint16_t>(colours[i].green * 257);
            blue[i] = static_cast<std::uint16_t>(colours[i].blue * 257);
        }
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    const double xDpi = DotsPerInch(bitmap.xPelsPerMeter());
    const double yDpi = DotsPerInch(bitmap.yPelsPerMeter());
    if (xDpi > 0 || yDpi > 0) {
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, xDpi);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, yDpi);
    }

    // Whole strips at a time straight from the bitmap: the rows of a strip lie next to each other.
    const auto rows = static_cast<std::uint32_t>(bitmap.height());
    for (std::uint32_t first = 0, strip = 0; first < rows; first += kRowsPerStrip, ++strip) {
        const std::uint32_t count = std::min(kRowsPerStrip, rows - first);
        // libtiff takes a non-const buffer but only changes it for predictors or byte swapping,
        // neither of which applies to 8-bit samples without a predictor.
        auto* data = const_cast<std::uint8_t*>(bitmap.row(static_cast<int>(first)));
        if (TIFFWriteEncodedStrip(t, strip, data, static_cast<tmsize_t>(count * bitmap.stride())) <
            0)
            fail(messages, "Cannot write the TIFF data");
    }
    if (!TIFFWriteDirectory(t))
        fail(messages, "Cannot write the TIFF directory");
}

} // namespace pagewren::codecs
