#include "image/ImageFile.h"

#include "image/AtomicFile.h"
#include "image/Codecs.h"
#include "image/MappedFile.h"
#include "util/Error.h"

#include <algorithm>
#include <array>
#include <exception>
#include <new>

namespace pagewren {

namespace {

struct Reader {
    ImageFormat format;
    bool (*recognises)(codecs::ByteView);
    Bitmap (*decode)(codecs::ByteView, const ImageReadOptions&);
};

constexpr std::array<Reader, 5> kReaders = {{
    {ImageFormat::Tiff, codecs::IsTiff, codecs::DecodeTiff},
    {ImageFormat::Jpeg, codecs::IsJpeg, codecs::DecodeJpeg},
    {ImageFormat::Png, codecs::IsPng, codecs::DecodePng},
    {ImageFormat::Gif, codecs::IsGif, codecs::DecodeGif},
    {ImageFormat::Bmp, codecs::IsBmp, codecs::DecodeBmp},
}};

// A palette that says no more than the depth itself (black and white for 1 bit, the grey levels
// in order for 8 bits) is dropped, so that the same picture has one form whatever file it came
// from.
void dropPlainPalette(Bitmap& bitmap)
{
    auto& palette = bitmap.palette();
    if (palette.empty() || bitmap.bitsPerPixel() > 8)
        return;
    const std::size_t entries = std::size_t{1} << bitmap.bitsPerPixel();
    if (palette.size() != entries)
        return;
    for (std::size_t i = 0; i < entries; ++i) {
        const auto level = static_cast<std::uint8_t>(i * 255 / (entries - 1));
        if (palette[i] != PaletteEntry{level, level, level})
            return;
    }
    palette.clear();
}

ImageReadResult decodeWith(const Reader& reader, codecs::ByteView data,
                           const ImageReadOptions& options)
{
    ImageReadResult result;
    result.bitmap = reader.decode(data, options);
    result.format = reader.format;
    dropPlainPalette(result.bitmap);
    return result;
}

ImageReadResult readerFailure(std::string message)
{
    ImageReadResult result;
    result.error = std::move(message);
    return result;
}

ImageReadResult read(codecs::ByteView data, ImageFormat hint, const ImageReadOptions& options)
{
    if (data.empty())
        return readerFailure("The file is empty");
    // The reader the extension names first, then every other reader that recognises the data.
    const auto named = std::find_if(kReaders.begin(), kReaders.end(),
                                    [hint](const Reader& r) { return r.format == hint; });
    if (named != kReaders.end() && named->recognises(data))
        return decodeWith(*named, data, options);
    for (const Reader& reader : kReaders) {
        if (reader.format != hint && reader.recognises(data))
            return decodeWith(reader, data, options);
    }
    return readerFailure("Not an image file of a known format");
}

} // namespace

ImageReadResult ReadImageData(std::span<const std::uint8_t> data, ImageFormat hint,
                              const ImageReadOptions& options)
{
    try {
        return read(data, hint, options);
    } catch (const std::bad_alloc&) {
        return readerFailure("Not enough memory for the image");
    } catch (const std::exception& e) {
        return readerFailure(e.what());
    }
}

ImageReadResult ReadImageFile(const std::string& path, const ImageReadOptions& options)
{
    try {
        const MappedFile file(path);
        ImageReadResult result = read(file.bytes(), ImageFormatFromPath(path), options);
        if (!result.ok())
            result.error = path + ": " + result.error;
        return result;
    } catch (const std::bad_alloc&) {
        return readerFailure(path + ": Not enough memory for the image");
    } catch (const Error& e) {
        // Messages about opening the file already name it.
        const std::string message = e.what();
        return readerFailure(message.find(path) == std::string::npos ? path + ": " + message
                                                                     : message);
    } catch (const std::exception& e) {
        return readerFailure(path + ": " + e.what());
    }
}

ImageWriteResult WriteImageFile(const Bitmap& bitmap, const std::string& path,
                                const ImageWriteOptions& options)
{
    return WriteImageFile(bitmap, path, ImageFormatFromPath(path), options);
}

ImageWriteResult WriteImageFile(const Bitmap& bitmap, const std::string& path, ImageFormat format,
                                const ImageWriteOptions& options)
{
    ImageWriteResult result;
    try {
        const ImageCompression compression = options.compression;
        auto refuse = [&]() {
            throw Error(std::string(ImageFormatName(format)) +
                        " files cannot take the compression asked for");
        };
        if (format == ImageFormat::Unknown)
            throw Error("No image format is known for this file name");
        if (bitmap.isEmpty())
            throw Error("There is no image to write");
        switch (format) {
        case ImageFormat::Tiff:
            if (compression != ImageCompression::None && compression != ImageCompression::Lzw &&
                compression != ImageCompression::PackBits)
                refuse();
            break;
        case ImageFormat::Jpeg:
            if (compression != ImageCompression::None && compression != ImageCompression::Jpeg)
                refuse();
            break;
        case ImageFormat::Png:
            if (compression != ImageCompression::None && compression != ImageCompression::Deflate)
                refuse();
            break;
        case ImageFormat::Gif:
            if (compression != ImageCompression::None && compression != ImageCompression::Gif89a)
                refuse();
            break;
        case ImageFormat::Bmp:
            if (compression != ImageCompression::None && compression != ImageCompression::Rle8)
                refuse();
            break;
        case ImageFormat::Unknown:
            break;
        }

        AtomicFile file(path);
        const int quality = std::clamp(options.quality, 1, 100);
        switch (format) {
        case ImageFormat::Tiff:
            codecs::EncodeTiff(bitmap, file.file(), compression);
            break;
        case ImageFormat::Jpeg:
            codecs::EncodeJpeg(bitmap, file.file(), quality);
            break;
        case ImageFormat::Png:
            // Quality's tens digit is the zlib effort, as ImageMagick reads it.
            codecs::EncodePng(
                bitmap, file.file(),
                compression == ImageCompression::None ? 0 : std::clamp(quality / 10, 1, 9));
            break;
        case ImageFormat::Gif:
            codecs::EncodeGif(bitmap, file.file(), compression == ImageCompression::Gif89a);
            break;
        case ImageFormat::Bmp:
            codecs::EncodeBmp(bitmap, file.file(), compression == ImageCompression::Rle8);
            break;
        case ImageFormat::Unknown:
            break;
        }
        file.commit(options.durable);
    } catch (const std::bad_alloc&) {
        result.error = path + ": Not enough memory to write the image";
    } catch (const std::exception& e) {
        const std::string message = e.what();
        result.error = message.find(path) == std::string::npos ? path + ": " + message : message;
    }
    return result;
}

} // namespace pagewren
