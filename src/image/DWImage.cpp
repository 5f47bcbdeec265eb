#include "image/DWImage.h"

#include "image/ImageFormat.h"
#include "image/IniFile.h"
#include "image/Resolution.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

namespace pagewren {

namespace {

const char* const kResolutionSection = "bitmap_ext";

// Only a to z change: the extension is compared as written, not by locale.
std::string upperLetters(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

std::uint32_t resolutionValue(const IniFile& file, const char* key)
{
    // Negative values make no resolution; they count as invalid.
    return static_cast<std::uint32_t>(std::max(file.ReadInteger(kResolutionSection, key, 0), 0));
}

} // namespace

TDWImage::TDWImage() = default;
TDWImage::~TDWImage() = default;
TDWImage::TDWImage(TDWImage&&) noexcept = default;
TDWImage& TDWImage::operator=(TDWImage&&) noexcept = default;

bool TDWImage::LoadFromFile(const std::string& FileName)
{
    ImageReadResult result = ReadImageFile(FileName);
    if (!result.ok()) {
        m_lastError = std::move(result.error);
        return false;
    }
    Assign(std::move(result.bitmap));
    m_sourceFile = FileName;
    m_lastError.clear();
    const std::string resolutionFile = ResolutionFileName(FileName);
    std::error_code error;
    if (std::filesystem::exists(resolutionFile, error) &&
        !std::filesystem::is_directory(resolutionFile, error))
        ReadResolutionFile(resolutionFile);
    return true;
}

void TDWImage::SaveToFile(const std::string& FileName, std::uint8_t Quality) const
{
    (void)SaveToFileChecked(FileName, Quality);
}

ImageWriteResult TDWImage::SaveToFileChecked(const std::string& FileName,
                                             std::uint8_t Quality) const
{
    // The codecs read the bitmap without changing it, so no copy is needed to keep the document
    // as it is.
    return WriteImageFile(m_bitmap, FileName, SaveOptions(FileName, Quality));
}

ImageWriteOptions TDWImage::SaveOptions(const std::string& FileName, std::uint8_t Quality)
{
    ImageWriteOptions options; // no compression, quality 100
    if (Quality == 0)
        return options;
    const std::string extension = upperLetters(FileExtension(FileName));
    const int quality = std::clamp<int>(Quality, 1, 100);
    if (extension == "TIF" || extension == "TIFF") {
        options.compression = ImageCompression::Lzw;
    } else if (extension == "JPG" || extension == "JPEG") {
        options.compression = ImageCompression::Jpeg;
        options.quality = quality;
    } else if (extension == "BMP") {
        options.compression = ImageCompression::Rle8;
    } else if (extension == "PNG") {
        options.compression = ImageCompression::Deflate;
        options.quality = quality;
    } else if (extension == "GIF") {
        options.compression = ImageCompression::Gif89a;
    }
    return options;
}

unsigned TDWImage::GetDPI() const
{
    return PelsPerMeterToDpi(m_bitmap.xPelsPerMeter());
}

void TDWImage::SetDPI(std::uint32_t DPI)
{
    SetDPIX(DPI);
    SetDPIY(DPI);
}

void TDWImage::SetDPIX(std::uint32_t DPI)
{
    m_bitmap.setXPelsPerMeter(DpiToPelsPerMeter(DPI));
}

void TDWImage::SetDPIY(std::uint32_t DPI)
{
    m_bitmap.setYPelsPerMeter(DpiToPelsPerMeter(DPI));
}

void TDWImage::ReadResolutionFile(const std::string& IniFileName)
{
    const IniFile file(IniFileName);
    const std::uint32_t x = resolutionValue(file, "dpi_x");
    const std::uint32_t y = resolutionValue(file, "dpi_y");
    if (x == y) {
        SetDPI(x);
    } else {
        SetDPIX(x);
        SetDPIY(y);
    }
}

void TDWImage::Assign(const pagewren::Bitmap& Source)
{
    m_bitmap = Source;
}

void TDWImage::Assign(pagewren::Bitmap&& Source)
{
    m_bitmap = std::move(Source);
}

void TDWImage::Assign(const TDWImage& Source)
{
    Source.AssignTo(*this);
}

void TDWImage::AssignTo(pagewren::Bitmap& Dest) const
{
    Dest = m_bitmap;
}

void TDWImage::AssignTo(TDWImage& Dest) const
{
    Dest.Assign(m_bitmap);
}

std::string TDWImage::ResolutionFileName(const std::string& FileName)
{
    return FileName.substr(0, ExtensionDot(FileName)) + ".INI";
}

} // namespace pagewren
