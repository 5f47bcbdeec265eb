#pragma once

#include "image/Bitmap.h"
#include "image/ImageFile.h"

#include <cstdint>
#include <string>

namespace pagewren {

// The image document: one bitmap with what the PDF output needs around it. It loads a page
// (taking its resolution from a resolution file beside it), sets the resolution in dots per inch
// and writes the bitmap in the format and compression the target's extension names.
//
// Documents share nothing: different threads may each use their own document at the same time.
class TDWImage {
public:
    TDWImage();
    ~TDWImage();
    // Documents are copied only on purpose, with Assign; they may be moved.
    TDWImage(const TDWImage&) = delete;
    TDWImage& operator=(const TDWImage&) = delete;
    TDWImage(TDWImage&&) noexcept;
    TDWImage& operator=(TDWImage&&) noexcept;

    pagewren::Bitmap& Bitmap() { return m_bitmap; }
    const pagewren::Bitmap& Bitmap() const { return m_bitmap; }
    // The path of the last successful LoadFromFile; empty until then.
    const std::string& SourceFile() const { return m_sourceFile; }
    // Why the last LoadFromFile failed; empty after a successful one.
    const std::string& LastError() const { return m_lastError; }

    // Reads the image file FileName and then, when "<FileName without extension>.INI" exists,
    // applies it with ReadResolutionFile. Returns false, leaving the document as it was, when the
    // file is missing or cannot be read as an image. Throws nothing for that.
    bool LoadFromFile(const std::string& FileName);

    // Writes the bitmap to FileName; the document does not change. Quality above 0 selects the
    // compression for the extension (TIF/TIFF LZW, JPG/JPEG quality, BMP RLE8, PNG Deflate with
    // quality, GIF 89a), clamped to 1..100; quality 0 writes uncompressed (JPEG at 100).
    // Reports nothing: a failed write leaves no file or the previous one. See SaveToFileChecked.
    void SaveToFile(const std::string& FileName, std::uint8_t Quality) const;
    // The same, telling the caller whether the file was written.
    ImageWriteResult SaveToFileChecked(const std::string& FileName, std::uint8_t Quality) const;

    // Horizontal resolution in dots per inch.
    unsigned GetDPI() const;
    // Resolutions in dots per inch (stored as dpi x 39.370079 pixels per metre, rounded half to
    // even, at most the largest 32-bit value).
    void SetDPI(std::uint32_t DPI);
    void SetDPIX(std::uint32_t DPI);
    void SetDPIY(std::uint32_t DPI);

    // Applies "dpi_x" and "dpi_y" of section "bitmap_ext" of IniFileName: a missing or invalid
    // value (also a negative one) counts as 0.
    void ReadResolutionFile(const std::string& IniFileName);

    // The bitmap becomes a copy of Source.
    void Assign(const pagewren::Bitmap& Source);
    void Assign(pagewren::Bitmap&& Source);
    void Assign(const TDWImage& Source);
    // Dest becomes a copy of the bitmap.
    void AssignTo(pagewren::Bitmap& Dest) const;
    void AssignTo(TDWImage& Dest) const;

    // FileName without its extension, followed by ".INI".
    static std::string ResolutionFileName(const std::string& FileName);
    // How SaveToFile writes FileName at Quality.
    static ImageWriteOptions SaveOptions(const std::string& FileName, std::uint8_t Quality);

private:
    pagewren::Bitmap m_bitmap;
    std::string m_sourceFile;
    std::string m_lastError;
};

} // namespace pagewren
