#pragma once

#include "leafpress/JpegInfo.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace pagewren::leafpress {

// Reading JPEG files for embedding. Failures throw LeafpressError (an image problem) naming
// the file.
class JpegFile {
public:
    using Sink = std::function<void(const std::uint8_t* data, std::size_t size)>;

    // Reads the file's headers up to its first scan: enough to lay out its page.
    static JpegInfo readHeader(const std::string& path);

    // Passes the whole file to `sink` in pieces, checking its markers through to the end of the
    // image and that its headers still match `expected`. Only one piece is held at a time.
    static void copy(const std::string& path, const JpegInfo& expected, const Sink& sink);
};

} // namespace pagewren::leafpress
