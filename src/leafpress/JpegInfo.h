#pragma once

namespace pagewren::leafpress {

// What a PDF needs to know of a JPEG to show it: read from its frame header and Adobe marker.
struct JpegInfo {
    int width = 0;
    int height = 0;
    int components = 0; // 1 grey, 3 colour, 4 CMYK
    bool progressive = false;
    // An Adobe APP14 marker was present; a four-component image with one stores inverted CMYK.
    bool adobe = false;
    int adobeTransform = 0;

    bool invertedCmyk() const { return components == 4 && adobe; }

    bool operator==(const JpegInfo&) const = default;
};

} // namespace pagewren::leafpress
