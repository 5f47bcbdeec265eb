// Windows bitmap files, read and written here: 1, 4, 8, 16, 24 and 32 bits, RLE4 and RLE8.

#include "image/Codecs.h"

#include "image/CodecSupport.h"
#include "util/Error.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace pagewren::codecs {

namespace {

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kV4HeaderSize = 108;

[[noreturn]] void damaged(const std::string& why)
{
    throw Error("Damaged BMP file: " + why);
}

std::uint16_t u16(ByteView data, std::size_t offset)
{
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

std::uint32_t u32(ByteView data, std::size_t offset)
{
    return static_cast<std::uint32_t>(data[offset]) |
           (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}

std::int32_t i32(ByteView data, std::size_t offset)
{
    return static_cast<std::int32_t>(u32(data, offset));
}

// One colour channel of a 16- or 32-bit pixel, given by its bit mask.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m)
    {
        if (mask != 0) {
            shift = std::countr_zero(mask);
            bits = std::popcount(mask >> shift);
        }
    }

    std::uint8_t get(std::uint32_t pixel, std::uint8_t missing) const
    {
        if (bits == 0)
            return missing;
        const std::uint32_t value = (pixel & mask) >> shift;
        if (bits >= 8)
            return static_cast<std::uint8_t>(value >> (bits - 8));
        return static_cast<std::uint8_t>(value * 255 / ((1u << bits) - 1));
    }
};

struct BmpHeader {
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: rows run top to bottom
    int bitsPerPixel = 0;
    std::uint32_t compression = kRgb;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t coloursUsed = 0;
    std::size_t paletteOffset = 0;
    std::size_t paletteEntrySize = 4;
    std::uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
};

BmpHeader readHeader(ByteView data)
{
    if (data.size() < kFileHeaderSize + 12)
        damaged("the file ends inside its header");
    BmpHeader header;
    const std::uint32_t headerSize = u32(data, 14);
    if (headerSize == 12) {
        // The old OS/2 header: 16-bit sizes and 3-byte palette entries.
        header.width = u16(data, 18);
        header.height = u16(data, 20);
        header.bitsPerPixel = u16(data, 24);
        header.paletteEntrySize = 3;
        header.paletteOffset = kFileHeaderSize + 12;
        return header;
    }
    if (headerSize < kInfoHeaderSize || headerSize > 1024)
        throw Error("Unsupported BMP file: header of " + std::to_string(headerSize) + " bytes");
    if (data.size() < kFileHeaderSize + headerSize)
        damaged("the file ends inside its header");
    header.width = i32(data, 18);
    header.height = i32(data, 22);
    header.bitsPerPixel = u16(data, 28);
    header.compression = u32(data, 30);
    header.xPelsPerMeter = std::max(i32(data, 38), 0);
    header.yPelsPerMeter = std::max(i32(data, 42), 0);
    header.coloursUsed = u32(data, 46);
    header.paletteOffset = kFileHeaderSize + headerSize;
    if (header.compression == kBitFields || header.compression == kAlphaBitFields) {
        // Masks follow a 40-byte header and are part of the larger ones.
        const std::size_t masks = header.compression == kAlphaBitFields ? 4 : 3;
        const std::size_t at = kFileHeaderSize + kInfoHeaderSize;
        const std::size_t inHeader = (headerSize - kInfoHeaderSize) / 4;
        const std::size_t count = std::max(masks, std::min<std::size_t>(inHeader, 4));
        if (data.size() < at + 4 * count)
            damaged("the file ends inside its colour masks");
        for (std::size_t i = 0; i < count; ++i)
            header.masks[i] = u32(data, at + 4 * i);
        if (inHeader < masks)
            header.paletteOffset = at + 4 * masks;
    } else if (headerSize >= 56) {
        header.masks[3] = u32(data, kFileHeaderSize + 52);
    }
    return header;
}

void readPalette(ByteView data, const BmpHeader& header, std::size_t pixelOffset, Bitmap& bitmap)
{
    const std::size_t maximum = std::size_t{1} << header.bitsPerPixel;
    std::size_t count =
        header.coloursUsed == 0 ? maximum : std::min<std::size_t>(header.coloursUsed, maximum);
    const std::size_t end = std::min(data.size(), std::max(pixelOffset, header.paletteOffset));
    const std::size_t room =
        end > header.paletteOffset ? (end - header.paletteOffset) / header.paletteEntrySize : 0;
    count = std::min(count, room);
    if (count == 0)
        damaged("a palette image without a palette");
    auto& palette = bitmap.palette();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = header.paletteOffset + i * header.paletteEntrySize;
        palette.push_back({data[at + 2], data[at + 1], data[at]});
    }
}

// Rows of run-length coded pixels, bottom row first; pixels the codes skip keep index 0. Without
// a bitmap only checks that the codes reach the end of the image, so that a damaged file is
// refused before memory is taken for its pixels.
void decodeRle(ByteView codes, bool fourBits, std::uint64_t width, std::uint64_t height,
               Bitmap* bitmap)
{
    if (bitmap)
        std::fill_n(bitmap->data(), bitmap->sizeBytes(), std::uint8_t{0});
    std::uint64_t x = 0, y = 0;
    std::size_t pos = 0;
    auto put = [&](unsigned value) {
        if (bitmap && x < width)
            bitmap->row(static_cast<int>(height - 1 - y))[x] = static_cast<std::uint8_t>(value);
        ++x;
    };
    while (y < height) {
        if (codes.size() - pos < 2)
            damaged("the run-length data ends early");
        const std::uint8_t count = codes[pos];
        const std::uint8_t value = codes[pos + 1];
        pos += 2;
        if (count > 0) {
            // A run: one byte (or two alternating nibbles) repeated.
            for (unsigned i = 0; i < count && x < width; ++i)
                put(fourBits ? (i % 2 == 0 ? value >> 4 : value & 0x0f) : value);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: // move right and up
            if (codes.size() - pos < 2)
                damaged("the run-length data ends early");
            x += codes[pos];
            y += codes[pos + 1];
            pos += 2;
            break;
        default: { // literal pixels, padded to a 16-bit boundary
            const std::size_t bytes = fourBits ? (value + 1u) / 2 : value;
            if (codes.size() - pos < bytes)
                damaged("the run-length data ends early");
            for (unsigned i = 0; i < value && x < width; ++i) {
                const std::uint8_t byte = codes[pos + (fourBits ? i / 2 : i)];
                put(fourBits ? (i % 2 == 0 ? byte >> 4 : byte & 0x0f) : byte);
            }
            pos += std::min(bytes + bytes % 2, codes.size() - pos);
            break;
        }
        }
    }
}

void decodeRows(ByteView pixels, const BmpHeader& header, Bitmap& bitmap)
{
    const auto width = static_cast<std::size_t>(bitmap.width());
    const int height = bitmap.height();
    const int bpp = header.bitsPerPixel;
    const std::size_t sourceStride = (width * static_cast<std::size_t>(bpp) + 31) / 32 * 4;
    const std::size_t rowBytes = (width * static_cast<std::size_t>(bpp) + 7) / 8;

    std::uint32_t masks[4] = {header.masks[0], header.masks[1], header.masks[2], header.masks[3]};
    if (header.compression == kRgb && bpp == 16) {
        masks[0] = 0x7c00; // 5 bits each
        masks[1] = 0x03e0;
        masks[2] = 0x001f;
    } else if (header.compression == kRgb && bpp == 32) {
        masks[0] = 0x00ff0000;
        masks[1] = 0x0000ff00;
        masks[2] = 0x000000ff;
        masks[3] = 0xff000000;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    bool anyAlpha = false;

    for (int row = 0; row < height; ++row) {
        const bool topDown = header.height < 0;
        const std::uint8_t* in =
            pixels.data() +
            sourceStride * static_cast<std::size_t>(topDown ? row : height - 1 - row);
        std::uint8_t* out = bitmap.row(row);
        switch (bpp) {
        case 1:
        case 8:
            std::memcpy(out, in, rowBytes);
            break;
        case 4:
            for (std::size_t x = 0; x < width; ++x)
                out[x] = x % 2 == 0 ? in[x / 2] >> 4 : in[x / 2] & 0x0f;
            break;
        case 24:
            for (std::size_t x = 0; x < width; ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
            break;
        case 16:
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint32_t pixel = in[2 * x] | (in[2 * x + 1] << 8);
                out[3 * x] = red.get(pixel, 0);
                out[3 * x + 1] = green.get(pixel, 0);
                out[3 * x + 2] = blue.get(pixel, 0);
            }
            break;
        case 32:
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint32_t pixel = u32(ByteView(in, rowBytes), 4 * x);
                out[4 * x] = red.get(pixel, 0);
                out[4 * x + 1] = green.get(pixel, 0);
                out[4 * x + 2] = blue.get(pixel, 0);
                out[4 * x + 3] = alpha.get(pixel, 255);
                anyAlpha = anyAlpha || out[4 * x + 3] != 0;
            }
            break;
        }
    }
    // Many writers leave the fourth byte of plain 32-bit pixels at zero: that means opaque, not
    // invisible.
    if (bpp == 32 && header.compression == kRgb && !anyAlpha) {
        for (int row = 0; row < height; ++row) {
            std::uint8_t* out = bitmap.row(row);
            for (std::size_t x = 0; x < width; ++x)
                out[4 * x + 3] = 255;
        }
    }
}

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// One row in RLE8: runs of equal bytes as (count, value), other stretches of three or more bytes
// literally as (0, count, bytes, padding to an even length).
void encodeRle8Row(const std::uint8_t* row, std::size_t width, std::vector<std::uint8_t>& out)
{
    std::size_t i = 0;
    while (i < width) {
        std::size_t run = 1;
        while (i + run < width && run < 255 && row[i + run] == row[i])
            ++run;
        if (run >= 2 || width - i < 3) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        std::size_t end = i;
        while (end < width && end - i < 255 &&
               !(end + 2 < width && row[end] == row[end + 1] && row[end] == row[end + 2]))
            ++end;
        const std::size_t count = end - i;
        if (count < 3) {
            for (; i < end; ++i) {
                out.push_back(1);
                out.push_back(row[i]);
            }
            continue;
        }
        out.push_back(0);
        out.push_back(static_cast<std::uint8_t>(count));
        out.insert(out.end(), row + i, row + end);
        if (count % 2 != 0)
            out.push_back(0);
        i = end;
    }
}

void writeAll(std::FILE* file, const std::uint8_t* data, std::size_t size)
{
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        throw Error("Cannot write the BMP file");
}

} // namespace

bool IsBmp(ByteView data)
{
    return data.size() >= kFileHeaderSize + 4 && data[0] == 'B' && data[1] == 'M';
}

Bitmap DecodeBmp(ByteView data, const ImageReadOptions& options)
{
    const BmpHeader header = readHeader(data);
    const std::size_t pixelOffset = u32(data, 10);
    if (pixelOffset >= data.size())
        damaged("no pixel data");
    const int bpp = header.bitsPerPixel;
    const std::uint32_t compression = header.compression;
    const bool supported =
        (compression == kRgb &&
         (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32)) ||
        (compression == kRle8 && bpp == 8) || (compression == kRle4 && bpp == 4) ||
        ((compression == kBitFields || compression == kAlphaBitFields) && (bpp == 16 || bpp == 32));
    if (!supported)
        throw Error("Unsupported BMP file: " + std::to_string(bpp) + " bits with compression " +
                    std::to_string(compression));
    const bool rle = compression == kRle8 || compression == kRle4;
    if (header.width <= 0 || header.height == 0 || (rle && header.height < 0))
        damaged("bad image size");
    const std::int64_t height = header.height < 0 ? -header.height : header.height;
    const int outputBits = bpp == 1 ? 1 : bpp <= 8 ? 8 : bpp == 32 ? 32 : 24;
    const auto width = static_cast<std::uint64_t>(header.width);
    const auto rows = static_cast<std::uint64_t>(height);
    CheckBitmapSize(width, rows, outputBits, options.maxBytes);
    // The file must hold every pixel before memory is taken for them.
    const ByteView pixels = data.subspan(pixelOffset);
    if (rle) {
        decodeRle(pixels, compression == kRle4, width, rows, nullptr);
    } else {
        const std::uint64_t stride = (width * static_cast<std::uint64_t>(bpp) + 31) / 32 * 4;
        const std::uint64_t rowBytes = (width * static_cast<std::uint64_t>(bpp) + 7) / 8;
        if (pixels.size() < stride * (rows - 1) + rowBytes)
            damaged("the image data is too short for " + std::to_string(width) + " x " +
                    std::to_string(rows) + " pixels");
    }

    Bitmap bitmap(static_cast<int>(header.width), static_cast<int>(height), outputBits);
    bitmap.setXPelsPerMeter(header.xPelsPerMeter);
    bitmap.setYPelsPerMeter(header.yPelsPerMeter);
    if (bpp <= 8)
        readPalette(data, header, pixelOffset, bitmap);
    if (rle)
        decodeRle(pixels, compression == kRle4, width, rows, &bitmap);
    else
        decodeRows(pixels, header, bitmap);
    return bitmap;
}

void EncodeBmp(const Bitmap& bitmap, std::FILE* file, bool rle8)
{
    if (bitmap.isEmpty())
        throw Error("No image to write");
    const int bpp = bitmap.bitsPerPixel();
    const bool rle = rle8 && bpp == 8;
    const auto width = static_cast<std::size_t>(bitmap.width());
    const std::size_t headerSize = bpp == 32 ? kV4HeaderSize : kInfoHeaderSize;

    std::size_t colours = 0;
    if (bpp == 1) {
        colours = 2;
    } else if (bpp == 8) {
        colours = 256;
        if (!bitmap.palette().empty()) {
            // Every index in use needs an entry.
            std::uint8_t largest = 0;
            for (int y = 0; y < bitmap.height(); ++y)
                largest = std::max(
                    largest, *std::max_element(bitmap.row(y), bitmap.row(y) + bitmap.width()));
            colours = std::max<std::size_t>(std::min<std::size_t>(bitmap.palette().size(), 256),
                                            largest + 1u);
        }
    }
    const std::size_t pixelOffset = kFileHeaderSize + headerSize + 4 * colours;

    std::vector<std::uint8_t> head(pixelOffset, 0);
    head[0] = 'B';
    head[1] = 'M';
    put32(head, 10, static_cast<std::uint32_t>(pixelOffset));
    put32(head, 14, static_cast<std::uint32_t>(headerSize));
    put32(head, 18, static_cast<std::uint32_t>(bitmap.width()));
    put32(head, 22, static_cast<std::uint32_t>(bitmap.height())); // bottom row first
    put16(head, 26, 1);
    put16(head, 28, static_cast<std::uint32_t>(bpp));
    put32(head, 30, rle ? kRle8 : bpp == 32 ? kBitFields : kRgb);
    put32(head, 38, static_cast<std::uint32_t>(std::max(bitmap.xPelsPerMeter(), 0)));
    put32(head, 42, static_cast<std::uint32_t>(std::max(bitmap.yPelsPerMeter(), 0)));
    put32(head, 46, static_cast<std::uint32_t>(colours));
    if (bpp == 32) {
        // Pixels are stored blue, green, red, alpha.
        put32(head, 54, 0x00ff0000);
        put32(head, 58, 0x0000ff00);
        put32(head, 62, 0x000000ff);
        put32(head, 66, 0xff000000);
        put32(head, 70, 0x73524742); // colour space "sRGB"
    }
    const auto table = ColourTable(bitmap);
    for (std::size_t i = 0; i < colours; ++i) {
        const std::size_t at = kFileHeaderSize + headerSize + 4 * i;
        head[at] = table[i].blue;
        head[at + 1] = table[i].green;
        head[at + 2] = table[i].red;
    }
    writeAll(file, head.data(), head.size());

    const std::size_t stride = (width * static_cast<std::size_t>(bpp) + 31) / 32 * 4;
    std::vector<std::uint8_t> line;
    std::size_t pixelBytes = 0;
    for (int y = bitmap.height() - 1; y >= 0; --y) {
        const std::uint8_t* row = bitmap.row(y);
        line.clear();
        if (rle) {
            encodeRle8Row(row, width, line);
            line.push_back(0);
            line.push_back(y == 0 ? 1 : 0); // end of bitmap after the last row, else end of line
        } else {
            line.assign(stride, 0);
            if (bpp == 24 || bpp == 32) {
                const std::size_t channels = static_cast<std::size_t>(bpp) / 8;
                for (std::size_t x = 0; x < width; ++x) {
                    line[channels * x] = row[channels * x + 2];
                    line[channels * x + 1] = row[channels * x + 1];
                    line[channels * x + 2] = row[channels * x];
                    if (channels == 4)
                        line[4 * x + 3] = row[4 * x + 3];
                }
            } else {
                std::memcpy(line.data(), row, bitmap.stride());
            }
        }
        writeAll(file, line.data(), line.size());
        pixelBytes += line.size();
    }
    if (pixelBytes > std::numeric_limits<std::uint32_t>::max() - pixelOffset)
        throw Error("Image too large for a BMP file");

    // The sizes are known only now (run-length data has no fixed size).
    std::vector<std::uint8_t> sizes(4);
    put32(sizes, 0, static_cast<std::uint32_t>(pixelOffset + pixelBytes));
    if (std::fseek(file, 2, SEEK_SET) != 0)
        throw Error("Cannot write the BMP file");
    writeAll(file, sizes.data(), 4);
    put32(sizes, 0, static_cast<std::uint32_t>(pixelBytes));
    if (std::fseek(file, 34, SEEK_SET) != 0)
        throw Error("Cannot write the BMP file");
    writeAll(file, sizes.data(), 4);
    if (std::fseek(file, 0, SEEK_END) != 0)
        throw Error("Cannot write the BMP file");
}

} // namespace pagewren::codecs
