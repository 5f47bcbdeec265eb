#include "leafpress/JpegFile.h"

#include "leafpress/JpegScanner.h"
#include "leafpress/LeafpressError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace pagewren::leafpress {

namespace {

constexpr std::size_t copyChunkSize = 256 * 1024;
// A header almost always fits in the first few kilobytes; reading more would read most images
// twice, since every image is copied in full later.
constexpr std::size_t headerChunkSize = 16 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openImage(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found)
        throw LeafpressError::forImage(path, "the image file does not exist");
    // Refuse folders and devices before opening: a FIFO would block the caller.
    if (!error && status.type() != fs::file_type::regular)
        throw LeafpressError::forImage(path, "not a regular file");
    errno = 0;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        const int cause = errno ? errno : (error ? error.value() : EIO);
        throw LeafpressError::forImage(path, std::string("cannot open the image file (") +
                                                 std::strerror(cause) + ")");
    }
    return file;
}

// Feeds the file to the scanner until `enough` says so or the file ends.
template <typename Enough, typename Each>
JpegScanner scanFile(const std::string& path, std::size_t chunkSize, Enough enough, Each each)
{
    FilePtr file = openImage(path);
    std::vector<std::uint8_t> buffer(chunkSize);
    JpegScanner scanner;
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (n > 0) {
            if (!scanner.feed(buffer.data(), n))
                throw LeafpressError::forImage(path, scanner.fault());
            each(buffer.data(), n);
            if (enough(scanner))
                return scanner;
        }
        if (n < buffer.size()) {
            if (std::ferror(file.get()))
                throw LeafpressError::forImage(path, "cannot read the image file");
            if (!scanner.finish())
                throw LeafpressError::forImage(path, scanner.fault());
            return scanner;
        }
    }
}

} // namespace

JpegInfo JpegFile::readHeader(const std::string& path)
{
    const JpegScanner scanner = scanFile(
        path, headerChunkSize, [](const JpegScanner& s) { return s.headerComplete(); },
        [](const std::uint8_t*, std::size_t) {});
    return scanner.info();
}

void JpegFile::copy(const std::string& path, const JpegInfo& expected, const Sink& sink)
{
    const JpegScanner scanner = scanFile(
        path, copyChunkSize, [](const JpegScanner&) { return false; }, sink);
    if (scanner.info() != expected)
        throw LeafpressError::forImage(path, "the image file changed while the PDF was written");
}

} // namespace pagewren::leafpress
