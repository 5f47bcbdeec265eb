#pragma once

// The format readers and writers behind ImageFile.h; internal to the image layer.
//
// Decoders throw Error when the data is damaged or unsupported and never allocate more than the
// options allow. Encoders write to an open file and throw Error when that fails. Neither keeps any
// state between calls, so different threads may use them at once.

#include "image/ImageFile.h"

#include <cstdint>
#include <cstdio>
#include <span>

namespace pagewren::codecs {

using ByteView = std::span<const std::uint8_t>;

bool IsTiff(ByteView data);
Bitmap DecodeTiff(ByteView data, const ImageReadOptions& options);
// Takes None, PackBits or Lzw.
void EncodeTiff(const Bitmap& bitmap, std::FILE* file, ImageCompression compression);

bool IsJpeg(ByteView data);
Bitmap DecodeJpeg(ByteView data, const ImageReadOptions& options);
void EncodeJpeg(const Bitmap& bitmap, std::FILE* file, int quality);

bool IsPng(ByteView data);
Bitmap DecodePng(ByteView data, const ImageReadOptions& options);
// zlibLevel 0 (stored) to 9.
void EncodePng(const Bitmap& bitmap, std::FILE* file, int zlibLevel);

bool IsGif(ByteView data);
Bitmap DecodeGif(ByteView data, const ImageReadOptions& options);
void EncodeGif(const Bitmap& bitmap, std::FILE* file, bool gif89a);

bool IsBmp(ByteView data);
Bitmap DecodeBmp(ByteView data, const ImageReadOptions& options);
void EncodeBmp(const Bitmap& bitmap, std::FILE* file, bool rle8);

} // namespace pagewren::codecs
