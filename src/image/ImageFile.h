#pragma once

#include "image/Bitmap.h"
#include "image/ImageFormat.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pagewren {

// How an image file's pixel data is compressed. Each format takes None and its own schemes;
// JPEG is always baseline JPEG, whatever is asked.
enum class ImageCompression { None, PackBits, Lzw, Jpeg, Rle8, Deflate, Gif89a };

struct ImageReadOptions {
    // A file whose pixels would need more memory than this is refused before decoding.
    std::size_t maxBytes = Bitmap::kMaxBytes;
};

struct ImageReadResult {
    Bitmap bitmap;
    // The format that read the file; Unknown when none could.
    ImageFormat format = ImageFormat::Unknown;
    // Empty on success, else why the file could not be read.
    std::string error;

    bool ok() const { return error.empty(); }
};

struct ImageWriteOptions {
    ImageCompression compression = ImageCompression::None;
    // 1 to 100, for JPEG (and the zlib effort of PNG); other values are clamped.
    int quality = 100;
    // Flush the file to the disk before it takes its name (for files that must survive a crash).
    bool durable = false;
};

struct ImageWriteResult {
    // Empty on success, else why the file was not written.
    std::string error;

    bool ok() const { return error.empty(); }
};

// Reads an image file. The format comes from the extension first; when that reader does not
// recognise the content, every known format is tried in turn. Never throws: a missing, unreadable
// or damaged file gives an error result.
ImageReadResult ReadImageFile(const std::string& path, const ImageReadOptions& options = {});

// The same for bytes in memory; hint is the format to try first.
ImageReadResult ReadImageData(std::span<const std::uint8_t> data, ImageFormat hint,
                              const ImageReadOptions& options = {});

// Writes bitmap to path in the format its extension names. The file appears complete or not at
// all: it is written under a temporary name in the same folder and then renamed, replacing an
// existing file. Never throws.
ImageWriteResult WriteImageFile(const Bitmap& bitmap, const std::string& path,
                                const ImageWriteOptions& options = {});

// The same with the format given.
ImageWriteResult WriteImageFile(const Bitmap& bitmap, const std::string& path, ImageFormat format,
                                const ImageWriteOptions& options = {});

} // namespace pagewren
