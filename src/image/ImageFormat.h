#pragma once

#include <string>
#include <string_view>

namespace pagewren {

// The image file formats the codecs read and write.
enum class ImageFormat { Unknown, Tiff, Jpeg, Png, Gif, Bmp };

// Where the extension of path's file-name part starts: the position of its last "."; npos when
// the name has none. Only "/" separates folders here, and also "\" and ":" when built for Windows.
std::size_t ExtensionDot(std::string_view path);

// The extension without its dot; "" when there is none.
std::string_view FileExtension(std::string_view path);

// The format a file name's extension names (letter case does not matter); Unknown for others.
ImageFormat ImageFormatFromPath(std::string_view path);

// A short name for messages: "TIFF", "JPEG", ...
const char* ImageFormatName(ImageFormat format);

} // namespace pagewren
