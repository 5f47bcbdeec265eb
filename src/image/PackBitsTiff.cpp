#include "image/PackBitsTiff.h"

#include "image/Bitmap.h"
#include "image/ImageFile.h"
#include "util/Error.h"

namespace pagewren {

void SavePackBitsTiff(const Bitmap& page, const std::string& path)
{
    ImageWriteOptions options;
    options.compression = ImageCompression::PackBits;
    // A scanned page exists only in this file: it must survive a crash right after the scan.
    options.durable = true;
    const ImageWriteResult result = WriteImageFile(page, path, ImageFormat::Tiff, options);
    if (!result.ok())
        throw Error(result.error);
}

} // namespace pagewren
