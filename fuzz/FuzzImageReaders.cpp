// Feeds arbitrary bytes to the image readers. What they decode must lie within the bitmap they
// return, and must survive being written by every writer and read back.
//
//   make fuzz && fuzz/make-seeds build-fuzz/seeds
//   build-fuzz/fuzz/fuzz_image_readers -max_len=65536 -rss_limit_mb=2048 corpus build-fuzz/seeds

#include "image/Codecs.h"
#include "image/ImageFile.h"
#include "util/Error.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace pagewren;

void encode(const Bitmap& bitmap, std::FILE* file, int format)
{
    switch (format) {
    case 0:
        codecs::EncodeTiff(bitmap, file, ImageCompression::Lzw);
        break;
    case 1:
        codecs::EncodeJpeg(bitmap, file, 75);
        break;
    case 2:
        codecs::EncodePng(bitmap, file, 1);
        break;
    case 3:
        codecs::EncodeGif(bitmap, file, true);
        break;
    default:
        codecs::EncodeBmp(bitmap, file, true);
        break;
    }
}

[[noreturn]] void finding(const char* what, int format, const Bitmap& bitmap,
                          const std::string& message)
{
    std::fprintf(stderr, "%s (writer %d, %d x %d at %d bits): %s\n", what, format, bitmap.width(),
                 bitmap.height(), bitmap.bitsPerPixel(), message.c_str());
    std::abort();
}

// Writes bitmap with one writer and reads it back; any failure is a finding. A temporary file
// rather than a memory stream, whose size follows the last position rather than the end.
void roundTrip(const Bitmap& bitmap, int format)
{
    std::FILE* file = std::tmpfile();
    if (!file)
        return;
    try {
        encode(bitmap, file, format);
    } catch (const Error& e) {
        std::fclose(file);
        // The formats' own size limits are the only reason to refuse a bitmap.
        const int largest = std::max(bitmap.width(), bitmap.height());
        if ((format == 1 && largest > 65500) || (format == 3 && largest > 65535))
            return;
        finding("writer refused the bitmap", format, bitmap, e.what());
    }
    std::fseek(file, 0, SEEK_END);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(file)));
    std::rewind(file);
    const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    bytes.resize(read);
    const ImageReadResult back = ReadImageData(bytes, ImageFormat::Unknown);
    if (!back.ok())
        finding("written file does not read back", format, bitmap, back.error);
    if (back.bitmap.width() != bitmap.width() || back.bitmap.height() != bitmap.height())
        finding("written file reads back at another size", format, bitmap, "");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ImageReadOptions options;
    options.maxBytes = 64 << 20; // large enough for real pages, small enough for the fuzzer
    const ImageReadResult result = ReadImageData({data, size}, ImageFormat::Unknown, options);
    if (!result.ok())
        return 0;
    // Reading every byte lets AddressSanitizer see a bitmap smaller than it claims.
    unsigned sum = 0;
    for (std::size_t i = 0; i < result.bitmap.sizeBytes(); ++i)
        sum += result.bitmap.data()[i];
    if (result.bitmap.sizeBytes() <= 64 * 1024)
        roundTrip(result.bitmap, static_cast<int>((sum + size) % 5));
    return 0;
}
