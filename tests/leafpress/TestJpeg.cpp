#include "leafpress/JpegFile.h"
#include "leafpress/JpegScanner.h"
#include "leafpress/LeafpressError.h"

#include "JpegFixtures.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;
using leafpress::JpegFile;
using leafpress::JpegInfo;
using leafpress::JpegScanner;
using leafpress::LeafpressError;
using leafpress::ResultCode;
using Bytes = std::basic_string<std::uint8_t>;

// Runs the scanner over `bytes` fed in pieces of `piece` bytes.
JpegScanner scan(const Bytes& bytes, std::size_t piece)
{
    JpegScanner scanner;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (!scanner.feed(bytes.data() + at, std::min(piece, bytes.size() - at)))
            break;
    }
    scanner.finish();
    return scanner;
}

class JpegTest : public HomeTest {};

TEST_F(JpegTest, ReadsTheFrameOfEveryKindInPiecesOfAnySize)
{
    struct Case {
        JpegKind kind;
        int width, height;
        bool stripAdobeMarker;
        JpegInfo expected;
    };
    const Case cases[] = {
        {JpegKind::Grey, 33, 17, false, {33, 17, 1, false, false, 0}},
        {JpegKind::Rgb, 64, 48, false, {64, 48, 3, false, false, 0}},
        {JpegKind::Progressive, 50, 52, false, {50, 52, 3, true, false, 0}},
        // ImageMagick writes CMYK as Adobe does: inverted, YCCK-transformed, marked by APP14.
        {JpegKind::Cmyk, 40, 60, false, {40, 60, 4, false, true, 2}},
        {JpegKind::Cmyk, 40, 60, true, {40, 60, 4, false, false, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(kindName(c.kind)) + (c.stripAdobeMarker ? " without APP14" : ""));
        makeJpeg("image.jpg", c.kind, c.width, c.height);
        Bytes bytes = readBytes("image.jpg");
        if (c.stripAdobeMarker) {
            const std::size_t app14 = findMarker(bytes, 0xEE);
            ASSERT_NE(app14, Bytes::npos);
            bytes.erase(app14, 2 + ((bytes[app14 + 2] << 8) | bytes[app14 + 3]));
        }
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, bytes.size()}) {
            const JpegScanner scanner = scan(bytes, piece);
            EXPECT_TRUE(scanner.complete()) << "piece " << piece << ": " << scanner.fault();
            EXPECT_TRUE(scanner.info() == c.expected) << "piece " << piece;
        }
        EXPECT_EQ(scan(bytes, bytes.size()).info().invertedCmyk(),
                  c.kind == JpegKind::Cmyk && !c.stripAdobeMarker);
    }
}

// Whatever the point where a file is cut, it is refused.
TEST_F(JpegTest, RefusesTheFileCutAtAnyByte)
{
    for (JpegKind kind : {JpegKind::Rgb, JpegKind::Progressive}) {
        SCOPED_TRACE(kindName(kind));
        makeJpeg("image.jpg", kind, 24, 16);
        const Bytes bytes = readBytes("image.jpg");
        ASSERT_TRUE(scan(bytes, bytes.size()).complete());
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            const JpegScanner scanner = scan(bytes.substr(0, size), 5);
            const std::string expected = size == 0   ? "the file is empty"
                                         : size == 1 ? "not a JPEG image"
                                                     : "the JPEG image is truncated";
            EXPECT_EQ(scanner.fault(), expected) << "cut to " << size << " bytes";
        }
    }
}

TEST_F(JpegTest, RefusesDamagedAndUnsupportedFiles)
{
    makeJpeg("image.jpg", JpegKind::Rgb, 32, 32);
    const Bytes original = readBytes("image.jpg");
    const std::size_t dqt = findMarker(original, 0xDB);
    const std::size_t sof = findMarker(original, 0xC0);
    const std::size_t sos = findMarker(original, 0xDA);
    ASSERT_NE(dqt, Bytes::npos);
    ASSERT_NE(sof, Bytes::npos);
    ASSERT_NE(sos, Bytes::npos);
    const std::size_t sofLength = 2 + ((original[sof + 2] << 8) | original[sof + 3]);

    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        std::string fault; // empty: accepted
    };
    const Case cases[] = {
        {"first byte", [](Bytes& b) { b[0] = 0x00; }, "not a JPEG image"},
        {"second start marker",
         [](Bytes& b) {
             b.insert(2, Bytes{0xFF, 0xD8});
         },
         "the JPEG image is damaged (a second start-of-image marker)"},
        {"segment length 1", [&](Bytes& b) { b[dqt + 2] = 0, b[dqt + 3] = 1; },
         "the JPEG image is damaged (a marker segment with an invalid length)"},
        {"stray byte between segments", [&](Bytes& b) { b.insert(dqt, 1, 0x00); },
         "the JPEG image is damaged (data where a marker belongs)"},
        {"reserved marker", [&](Bytes& b) { b[dqt + 1] = 0x02; },
         "the JPEG image is damaged (an invalid marker)"},
        {"restart marker in the headers", [&](Bytes& b) { b[dqt + 1] = 0xD3; },
         "the JPEG image is damaged (a restart marker outside the image data)"},
        {"scan before the frame", [&](Bytes& b) { b[sof + 1] = 0xE1; },
         "the JPEG image is damaged (image data before the frame header)"},
        {"two frames", [&](Bytes& b) { b.insert(sof, original.substr(sof, sofLength)); },
         "the JPEG image is damaged (more than one frame header)"},
        {"lossless", [&](Bytes& b) { b[sof + 1] = 0xC3; },
         "unsupported JPEG image (lossless coding)"},
        {"hierarchical", [&](Bytes& b) { b[sof + 1] = 0xC5; },
         "unsupported JPEG image (hierarchical coding)"},
        {"arithmetic", [&](Bytes& b) { b[sof + 1] = 0xC9; },
         "unsupported JPEG image (arithmetic coding)"},
        {"12-bit", [&](Bytes& b) { b[sof + 4] = 12; }, "unsupported JPEG image (12-bit samples)"},
        {"two components",
         [&](Bytes& b) {
             b[sof + 3] = static_cast<std::uint8_t>(b[sof + 3] - 3);
             b[sof + 9] = 2;
             b.erase(sof + sofLength - 3, 3);
         },
         "unsupported JPEG image (2 colour components)"},
        {"component count against the length", [&](Bytes& b) { b[sof + 9] = 4; },
         "the JPEG image is damaged (a malformed frame header)"},
        {"zero width", [&](Bytes& b) { b[sof + 7] = 0, b[sof + 8] = 0; },
         "the JPEG image is damaged (a width of zero)"},
        {"zero height", [&](Bytes& b) { b[sof + 5] = 0, b[sof + 6] = 0; },
         "unsupported JPEG image (height defined after the first scan)"},
        {"scan of an unknown component", [&](Bytes& b) { b[sos + 5] = 0x77; },
         "the JPEG image is damaged (a scan of an unknown colour component)"},
        {"end before any scan",
         [&](Bytes& b) {
             b.resize(sos);
             b += Bytes{0xFF, 0xD9};
         },
         "the JPEG image is damaged (no image data)"},
        {"end marker missing", [](Bytes& b) { b.resize(b.size() - 2); },
         "the JPEG image is truncated"},
        {"end marker damaged", [](Bytes& b) { b.back() = 0x00; }, "the JPEG image is truncated"},
        {"bytes after the end", [](Bytes& b) { b += Bytes(100, 0x42); }, ""},
        {"fill bytes before a marker", [&](Bytes& b) { b.insert(dqt, 3, 0xFF); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = original;
        c.change(bytes);
        const JpegScanner scanner = scan(bytes, 64);
        EXPECT_EQ(scanner.fault(), c.fault);
        EXPECT_EQ(scanner.complete(), c.fault.empty());
    }
}

TEST_F(JpegTest, CopyPassesEveryByteOfALargeFile)
{
    // Noise keeps the JPEG large: several of the reader's pieces.
    ASSERT_EQ(runCommand("convert -size 900x900 xc:gray +noise Random -quality 95 big.jpg"), 0);
    const std::string original = readFile("big.jpg");
    ASSERT_GT(original.size(), 2 * 256 * 1024u);
    const JpegInfo info = JpegFile::readHeader("big.jpg");
    EXPECT_EQ(info.width, 900);
    std::string copied;
    int pieces = 0;
    JpegFile::copy("big.jpg", info, [&](const std::uint8_t* data, std::size_t size) {
        copied.append(reinterpret_cast<const char*>(data), size);
        ++pieces;
    });
    EXPECT_TRUE(copied == original);
    EXPECT_GT(pieces, 1);
}

TEST_F(JpegTest, CopyRefusesAFileChangedAfterItsHeaderWasRead)
{
    makeJpeg("page.jpg", JpegKind::Rgb, 64, 48);
    const JpegInfo info = JpegFile::readHeader("page.jpg");
    makeJpeg("page.jpg", JpegKind::Rgb, 48, 64);
    try {
        JpegFile::copy("page.jpg", info, [](const std::uint8_t*, std::size_t) {});
        FAIL() << "a changed file was copied";
    } catch (const LeafpressError& error) {
        EXPECT_EQ(error.code(), ResultCode::ImageFailed);
        EXPECT_STREQ(error.what(), "page.jpg: the image file changed while the PDF was written");
    }
}

} // namespace
} // namespace pagewren::test
