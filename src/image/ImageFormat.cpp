#include "image/ImageFormat.h"

#include <algorithm>
#include <cctype>

namespace pagewren {

namespace {

bool isFolderSeparator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

bool sameLetters(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

} // namespace

std::size_t ExtensionDot(std::string_view path)
{
    for (std::size_t i = path.size(); i > 0; --i) {
        const char c = path[i - 1];
        if (c == '.')
            return i - 1;
        if (isFolderSeparator(c))
            break;
    }
    return std::string_view::npos;
}

std::string_view FileExtension(std::string_view path)
{
    const std::size_t dot = ExtensionDot(path);
    return dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
}

ImageFormat ImageFormatFromPath(std::string_view path)
{
    struct Entry {
        std::string_view extension;
        ImageFormat format;
    };
    static constexpr Entry kExtensions[] = {
        {"TIF", ImageFormat::Tiff},  {"TIFF", ImageFormat::Tiff}, {"JPG", ImageFormat::Jpeg},
        {"JPEG", ImageFormat::Jpeg}, {"JPE", ImageFormat::Jpeg},  {"JFIF", ImageFormat::Jpeg},
        {"PNG", ImageFormat::Png},   {"GIF", ImageFormat::Gif},   {"BMP", ImageFormat::Bmp},
        {"DIB", ImageFormat::Bmp},
    };
    const std::string_view extension = FileExtension(path);
    for (const auto& entry : kExtensions) {
        if (sameLetters(extension, entry.extension))
            return entry.format;
    }
    return ImageFormat::Unknown;
}

const char* ImageFormatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Tiff:
        return "TIFF";
    case ImageFormat::Jpeg:
        return "JPEG";
    case ImageFormat::Png:
        return "PNG";
    case ImageFormat::Gif:
        return "GIF";
    case ImageFormat::Bmp:
        return "BMP";
    case ImageFormat::Unknown:
        break;
    }
    return "unknown";
}

} // namespace pagewren
