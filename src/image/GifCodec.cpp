// GIF through giflib. Reading takes the first image of the file, at its own size.

#include "image/Codecs.h"

#include "image/CodecSupport.h"
#include "util/Error.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace pagewren::codecs {

namespace {

struct MemoryReader {
    ByteView data;
    std::size_t position = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* buffer, int size)
{
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    if (size <= 0)
        return 0;
    const std::size_t count =
        std::min(static_cast<std::size_t>(size), reader->data.size() - reader->position);
    std::memcpy(buffer, reader->data.data() + reader->position, count);
    reader->position += count;
    return static_cast<int>(count);
}

int writeToFile(GifFileType* gif, const GifByteType* buffer, int size)
{
    return static_cast<int>(std::fwrite(buffer, 1, static_cast<std::size_t>(size),
                                        static_cast<std::FILE*>(gif->UserData)));
}

struct DecoderCloser {
    void operator()(GifFileType* gif) const
    {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};

struct EncoderCloser {
    void operator()(GifFileType* gif) const
    {
        int ignored = 0;
        EGifCloseFile(gif, &ignored);
    }
};

struct MapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

std::string gifMessage(int error)
{
    const char* text = GifErrorString(error);
    return text ? text : "error " + std::to_string(error);
}

[[noreturn]] void failReading(const GifFileType* gif)
{
    throw Error("Damaged GIF file: " + gifMessage(gif->Error));
}

void skipExtension(GifFileType* gif)
{
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
        failReading(gif);
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
            failReading(gif);
    }
}

Bitmap readImage(GifFileType* gif, const MemoryReader& reader, const ImageReadOptions& options)
{
    if (DGifGetImageDesc(gif) == GIF_ERROR)
        failReading(gif);
    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0)
        throw Error("Damaged GIF file: an image without pixels");
    const auto width = static_cast<std::uint64_t>(frame.Width);
    const auto height = static_cast<std::uint64_t>(frame.Height);
    CheckBitmapSize(width, height, 8, options.maxBytes);
    // Every LZW code has at least 3 bits and stands for at most 4096 pixels.
    const std::uint64_t remaining = reader.data.size() - reader.position;
    if (width * height > (remaining * 8 / 3 + 1) * 4096)
        throw Error("Damaged GIF file: the image data is too short for " + std::to_string(width) +
                    " x " + std::to_string(height) + " pixels");

    Bitmap bitmap(frame.Width, frame.Height, 8);
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    auto& palette = bitmap.palette();
    if (map && map->Colors && map->ColorCount > 0) {
        for (int i = 0; i < map->ColorCount && i < 256; ++i)
            palette.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
    } else {
        // No colour map at all: show the indices as grey levels.
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            palette.push_back({v, v, v});
        }
    }

    auto readRow = [&](int y) {
        if (DGifGetLine(gif, bitmap.row(y), frame.Width) == GIF_ERROR)
            failReading(gif);
    };
    if (frame.Interlace) {
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = kStart[pass]; y < frame.Height; y += kStep[pass])
                readRow(y);
        }
    } else {
        for (int y = 0; y < frame.Height; ++y)
            readRow(y);
    }
    TrimPaletteToUse(bitmap);
    return bitmap;
}

// Bits needed for a colour map of count entries (GIF maps have 2 to 256 entries).
int mapBits(std::size_t count)
{
    int bits = 1;
    while ((std::size_t{1} << bits) < count)
        ++bits;
    return bits;
}

// The pixels of a true-colour bitmap as indices into at most 256 colours: exact when the image
// has no more colours than that, else chosen by giflib's median-cut quantiser.
std::vector<GifByteType> indexColours(const Bitmap& bitmap, std::vector<GifColorType>& colours)
{
    const auto width = static_cast<std::size_t>(bitmap.width());
    const auto height = static_cast<std::size_t>(bitmap.height());
    const std::size_t channels = static_cast<std::size_t>(bitmap.bitsPerPixel()) / 8;
    std::vector<GifByteType> indices(width * height);
    std::unordered_map<std::uint32_t, GifByteType> known;
    bool exact = true;
    for (std::size_t y = 0; y < height && exact; ++y) {
        const std::uint8_t* row = bitmap.row(static_cast<int>(y));
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = row + x * channels;
            const std::uint32_t key = (std::uint32_t{p[0]} << 16) | (p[1] << 8) | p[2];
            auto found = known.find(key);
            if (found == known.end()) {
                if (known.size() == 256) {
                    exact = false;
                    break;
                }
                found = known.emplace(key, static_cast<GifByteType>(known.size())).first;
                colours.push_back({p[0], p[1], p[2]});
            }
            indices[y * width + x] = found->second;
        }
    }
    if (exact)
        return indices;

    std::vector<GifByteType> red(width * height), green(width * height), blue(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.row(static_cast<int>(y));
        for (std::size_t x = 0; x < width; ++x) {
            red[y * width + x] = row[x * channels];
            green[y * width + x] = row[x * channels + 1];
            blue[y * width + x] = row[x * channels + 2];
        }
    }
    colours.assign(256, GifColorType{});
    int count = 256;
    // giflib's quantiser keeps its sort axis in a static variable: one image at a time.
    static std::mutex quantiser;
    const std::lock_guard lock(quantiser);
    if (GifQuantizeBuffer(static_cast<unsigned>(width), static_cast<unsigned>(height), &count,
                          red.data(), green.data(), blue.data(), indices.data(),
                          colours.data()) == GIF_ERROR)
        throw Error("Cannot reduce the image to 256 colours");
    colours.resize(static_cast<std::size_t>(std::clamp(count, 1, 256)));
    return indices;
}

} // namespace

bool IsGif(ByteView data)
{
    return data.size() >= 6 && std::memcmp(data.data(), "GIF8", 4) == 0 &&
           (data[4] == '7' || data[4] == '9') && data[5] == 'a';
}

Bitmap DecodeGif(ByteView data, const ImageReadOptions& options)
{
    MemoryReader reader{data};
    int error = 0;
    std::unique_ptr<GifFileType, DecoderCloser> gif(DGifOpen(&reader, readFromMemory, &error));
    if (!gif)
        throw Error("Damaged GIF file: " + gifMessage(error));
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            failReading(gif.get());
        switch (type) {
        case IMAGE_DESC_RECORD_TYPE:
            return readImage(gif.get(), reader, options);
        case EXTENSION_RECORD_TYPE:
            skipExtension(gif.get());
            break;
        case TERMINATE_RECORD_TYPE:
            throw Error("GIF file without an image");
        default:
            throw Error("Damaged GIF file: unknown record");
        }
    }
}

void EncodeGif(const Bitmap& bitmap, std::FILE* file, bool gif89a)
{
    if (bitmap.isEmpty())
        throw Error("No image to write");
    if (bitmap.width() > 65535 || bitmap.height() > 65535)
        throw Error("GIF images are at most 65535 pixels wide and high");
    const int bpp = bitmap.bitsPerPixel();
    const auto width = static_cast<std::size_t>(bitmap.width());

    std::vector<GifColorType> colours;
    std::vector<GifByteType> indices; // true-colour images only
    if (bpp <= 8) {
        const auto table = ColourTable(bitmap);
        std::size_t count = bpp == 1 ? 2 : 256;
        if (bpp == 8 && !bitmap.palette().empty()) {
            std::uint8_t largest = 0;
            for (int y = 0; y < bitmap.height(); ++y)
                largest = std::max(
                    largest, *std::max_element(bitmap.row(y), bitmap.row(y) + bitmap.width()));
            count = std::max<std::size_t>(std::min<std::size_t>(bitmap.palette().size(), 256),
                                          largest + 1u);
        }
        for (std::size_t i = 0; i < count; ++i)
            colours.push_back({table[i].red, table[i].green, table[i].blue});
    } else {
        indices = indexColours(bitmap, colours);
    }
    // GIF colour maps have a power of two entries.
    const int bits = mapBits(colours.size());
    colours.resize(std::size_t{1} << bits, GifColorType{0, 0, 0});
    std::unique_ptr<ColorMapObject, MapFree> map(
        GifMakeMapObject(static_cast<int>(colours.size()), colours.data()));
    if (!map)
        throw std::bad_alloc();

    int error = 0;
    std::unique_ptr<GifFileType, EncoderCloser> gif(EGifOpen(file, writeToFile, &error));
    if (!gif)
        throw Error("Cannot write the GIF file: " + gifMessage(error));
    auto check = [&](int result) {
        if (result == GIF_ERROR)
            throw Error("Cannot write the GIF file: " + gifMessage(gif->Error));
    };
    EGifSetGifVersion(gif.get(), gif89a);
    check(EGifPutScreenDesc(gif.get(), bitmap.width(), bitmap.height(), bits, 0, map.get()));
    check(EGifPutImageDesc(gif.get(), 0, 0, bitmap.width(), bitmap.height(), false, nullptr));
    // giflib masks the line in place, so it gets a copy of each row.
    std::vector<GifPixelType> line(width);
    for (int y = 0; y < bitmap.height(); ++y) {
        const std::uint8_t* row = bitmap.row(y);
        if (bpp == 1) {
            for (std::size_t x = 0; x < width; ++x)
                line[x] = Bit(row, x);
        } else if (bpp == 8) {
            std::copy_n(row, width, line.begin());
        } else {
            std::copy_n(indices.begin() + static_cast<std::ptrdiff_t>(width) * y, width,
                        line.begin());
        }
        check(EGifPutLine(gif.get(), line.data(), bitmap.width()));
    }
    GifFileType* done = gif.release();
    if (EGifCloseFile(done, &error) == GIF_ERROR)
        throw Error("Cannot write the GIF file: " + gifMessage(error));
}

} // namespace pagewren::codecs
