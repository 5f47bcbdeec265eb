#pragma once

#include <string>

namespace pagewren {

class Bitmap;

// Writes a scanned page as a PackBits-compressed TIFF at path (whatever its extension), 64 rows
// per strip, with the bitmap's resolution in dots per inch. The file is written under a
// temporary name, flushed to the disk and renamed, so path is either the complete page or
// untouched. Throws Error when the file cannot be written.
void SavePackBitsTiff(const Bitmap& page, const std::string& path);

} // namespace pagewren
