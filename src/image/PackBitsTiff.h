#pragma once

#include <string>

namespace pagewren {

class Bitmap;

// Writes a scanned page as a PackBits-compressed TIFF at path, with the bitmap's resolution in
// dots per inch. Writes the file in place: callers that must never leave a partial file write
// under a temporary name and rename. Throws Error when the file cannot be written.
void SavePackBitsTiff(const Bitmap& page, const std::string& path);

} // namespace pagewren
