#pragma once

#include <string>

namespace pagewren {

// Writes the JPEG copy of a scanned page straight from the page's TIFF strips to the JPEG
// encoder, one strip at a time, without ever holding the page as a whole bitmap: the rows stay in
// the processor's cache between decoding and encoding, which makes closing a job markedly faster.
//
// Takes only the layout the scanner writes: the first image of a TIFF file, 8-bit RGB in one
// plane, in strips, top row first, uncompressed or PackBits, LZW or Deflate compressed. The copy
// is byte for byte what TDWImage's LoadFromFile followed by SaveToFile at the same quality writes,
// resolution file included. Different threads may write copies at the same time.
class DirectJpegCopy {
public:
    // True when the copy was written. False, with the copy's file as it was, for any page it does
    // not take or any failure; the caller then goes through TDWImage, which gives the answer for
    // such pages. Throws nothing.
    static bool Write(const std::string& page, const std::string& copy, int quality) noexcept;
};

} // namespace pagewren
