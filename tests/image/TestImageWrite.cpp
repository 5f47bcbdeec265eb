// What we write reads back the same, and tools no one here wrote (libtiff's tiffinfo,
// ImageMagick) see the compression, quality and resolution we meant.

#include "ImageTestSupport.h"
#include "TestHome.h"
#include "image/ImageFile.h"
#include "image/PackBitsTiff.h"
#include "util/Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>

#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;

using ImageWrite = HomeTest;

constexpr PatternKind kAllKinds[] = {PatternKind::Bilevel, PatternKind::Grey, PatternKind::Palette,
                                     PatternKind::Rgb, PatternKind::Rgba};

// ImageMagick's decoding of a file, as RGBA.
Bitmap DecodedByImageMagick(const fs::path& file, const fs::path& folder)
{
    const auto reference = folder / "reference.png";
    RunTool("convert " + Quoted(file) + " PNG32:" + Quoted(reference));
    ImageReadResult result = ReadImageFile(reference.string());
    EXPECT_TRUE(result.ok()) << result.error;
    return std::move(result.bitmap);
}

std::string TiffField(const fs::path& file, const std::string& field)
{
    const std::string info = RunTool("tiffinfo " + Quoted(file));
    const std::size_t at = info.find(field + ": ");
    if (at == std::string::npos)
        return "(no " + field + ")";
    const std::size_t start = at + field.size() + 2;
    return info.substr(start, info.find('\n', start) - start);
}

std::string Identify(const fs::path& file, const std::string& format,
                     const std::string& options = "")
{
    return RunTool("identify " + options + " -format '" + format + "' " + Quoted(file));
}

struct LosslessCase {
    const char* name;
    const char* extension;
    ImageCompression compression;
    // What libtiff or ImageMagick calls the compression of the file.
    const char* compressionName;
};

void PrintTo(const LosslessCase& c, std::ostream* out)
{
    *out << c.name;
}

const LosslessCase kLossless[] = {
    {"TiffNone", "tif", ImageCompression::None, "None"},
    {"TiffLzw", "tif", ImageCompression::Lzw, "LZW"},
    {"TiffPackBits", "tiff", ImageCompression::PackBits, "PackBits"},
    {"PngStored", "png", ImageCompression::None, "Zip"},
    {"PngDeflate", "png", ImageCompression::Deflate, "Zip"},
    {"BmpNone", "bmp", ImageCompression::None, "None"},
    {"BmpRle8", "bmp", ImageCompression::Rle8, "RLE"},
};

class LosslessRoundTrip
    : public HomeTest,
      public ::testing::WithParamInterface<std::tuple<LosslessCase, PatternKind>> {};

TEST_P(LosslessRoundTrip, ReadsBackExactlyAndOthersAgree)
{
    const auto& [format, kind] = GetParam();
    const Bitmap original = MakePattern(kind, 37, 23, 7874);
    const auto file = home.work() / (std::string("out.") + format.extension);
    ImageWriteOptions options;
    options.compression = format.compression;
    options.quality = 60;
    const ImageWriteResult written = WriteImageFile(original, file.string(), options);
    ASSERT_TRUE(written.ok()) << written.error;

    // Depth, palette, resolution and every pixel come back as they were.
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_TRUE(back.bitmap == original) << CompareColours(back.bitmap, original);

    EXPECT_EQ(CompareColours(DecodedByImageMagick(file, home.work()), original), "");
    const std::string extension = format.extension;
    if (extension == "bmp" && kind == PatternKind::Rgba) {
        // Bit fields, for the alpha channel; ImageMagick has no name for that.
        EXPECT_EQ(readFile(file).at(30), 3);
        return;
    }
    const std::string compression =
        extension.starts_with("tif") ? TiffField(file, "Compression Scheme") : Identify(file, "%C");
    // Run-length coding applies to 8-bit bitmaps only; the rest are written plain.
    const bool rle = format.compression == ImageCompression::Rle8;
    const bool eightBit = kind == PatternKind::Grey || kind == PatternKind::Palette;
    EXPECT_EQ(compression, rle && !eightBit ? "None" : format.compressionName);
}

INSTANTIATE_TEST_SUITE_P(Image, LosslessRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kLossless),
                                            ::testing::ValuesIn(kAllKinds)),
                         [](const auto& row) {
                             return std::string(std::get<0>(row.param).name) + "_" +
                                    PatternName(std::get<1>(row.param));
                         });

class GifRoundTrip : public HomeTest, public ::testing::WithParamInterface<PatternKind> {};

TEST_P(GifRoundTrip, KeepsColoursOfFewColourImages)
{
    // A true-colour bitmap of few colours keeps them exactly; GIF has no resolution.
    Bitmap original = MakePattern(GetParam(), 37, 23);
    if (original.bitsPerPixel() >= 24) {
        const Bitmap palette = MakePattern(PatternKind::Palette, 37, 23);
        for (int y = 0; y < original.height(); ++y) {
            for (int x = 0; x < original.width(); ++x) {
                const Rgba c = ColourAt(palette, x, y);
                std::uint8_t* p = original.row(y) + x * original.bitsPerPixel() / 8;
                p[0] = c.red;
                p[1] = c.green;
                p[2] = c.blue;
                if (original.bitsPerPixel() == 32)
                    p[3] = 255;
            }
        }
    }
    const auto file = home.work() / "out.gif";
    ImageWriteOptions options;
    options.compression = ImageCompression::Gif89a;
    ASSERT_TRUE(WriteImageFile(original, file.string(), options).ok());

    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.bitmap.bitsPerPixel(), 8);
    EXPECT_EQ(CompareColours(back.bitmap, original), "");
    EXPECT_EQ(CompareColours(DecodedByImageMagick(file, home.work()), original), "");
    EXPECT_EQ(readFile(file).substr(0, 6), "GIF89a");
}

INSTANTIATE_TEST_SUITE_P(Image, GifRoundTrip, ::testing::ValuesIn(kAllKinds),
                         [](const auto& row) { return std::string(PatternName(row.param)); });

TEST_F(ImageWrite, GifOfManyColoursIsReducedToAPalette)
{
    const Bitmap original = MakePattern(PatternKind::Rgb, 64, 48);
    const auto file = home.work() / "out.gif";
    ASSERT_TRUE(WriteImageFile(original, file.string()).ok());
    EXPECT_EQ(readFile(file).substr(0, 6), "GIF87a"); // no GIF 89a asked for
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.bitmap.bitsPerPixel(), 8);
    EXPECT_LE(back.bitmap.palette().size(), 256u);
    EXPECT_EQ(CompareColours(back.bitmap, original, 64), "");
}

TEST_F(ImageWrite, RunLengthCodingHandlesLongRunsAndLiteralStretches)
{
    // Runs longer than one code holds, literal stretches of odd and even length, and rows that
    // end in one or two unequal pixels.
    Bitmap original(601, 6, 8);
    original.palette().resize(256);
    for (int i = 0; i < 256; ++i)
        original.palette()[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i),
                                                           static_cast<std::uint8_t>(255 - i), 7};
    for (int x = 0; x < original.width(); ++x) {
        original.row(0)[x] = 9;
        original.row(1)[x] = static_cast<std::uint8_t>(x * 37);
        original.row(2)[x] = static_cast<std::uint8_t>(x < 300 ? 4 : x % 3);
        original.row(3)[x] = static_cast<std::uint8_t>((x / 2) % 2 ? 200 : x);
        original.row(4)[x] = static_cast<std::uint8_t>(x == 600 ? 1 : 0);
        original.row(5)[x] = static_cast<std::uint8_t>(x >= 599 ? x : 5);
    }
    const auto file = home.work() / "runs.bmp";
    ImageWriteOptions options;
    options.compression = ImageCompression::Rle8;
    ASSERT_TRUE(WriteImageFile(original, file.string(), options).ok());
    EXPECT_EQ(Identify(file, "%C"), "RLE");
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_TRUE(back.bitmap == original) << CompareColours(back.bitmap, original);
    EXPECT_EQ(CompareColours(DecodedByImageMagick(file, home.work()), original), "");
}

// Whether the JPEG has a baseline frame header (SOF0) and no other kind.
bool IsBaselineJpeg(const std::string& bytes)
{
    bool baseline = false;
    for (std::size_t i = 2; i + 4 <= bytes.size();) {
        if (static_cast<std::uint8_t>(bytes[i]) != 0xff)
            return false;
        const auto marker = static_cast<std::uint8_t>(bytes[i + 1]);
        if (marker == 0xda) // start of scan: the headers are over
            return baseline;
        if (marker >= 0xc1 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc)
            return false; // extended, progressive, lossless or arithmetic
        baseline = baseline || marker == 0xc0;
        const std::size_t length = (static_cast<std::uint8_t>(bytes[i + 2]) << 8) |
                                   static_cast<std::uint8_t>(bytes[i + 3]);
        i += 2 + length;
    }
    return false;
}

struct JpegCase {
    PatternKind kind;
    int quality;        // asked for
    int storedQuality;  // what ImageMagick estimates from the tables
    const char* colour; // "Gray" or "sRGB"
};

class JpegWrite : public HomeTest, public ::testing::WithParamInterface<JpegCase> {};

TEST_P(JpegWrite, IsBaselineAtTheQualityAskedFor)
{
    const JpegCase& c = GetParam();
    const Bitmap original = MakePattern(c.kind, 37, 23, 11811);
    const auto file = home.work() / "out.jpg";
    ImageWriteOptions options;
    options.compression = ImageCompression::Jpeg;
    options.quality = c.quality;
    ASSERT_TRUE(WriteImageFile(original, file.string(), options).ok());

    EXPECT_TRUE(IsBaselineJpeg(readFile(file)));
    EXPECT_EQ(Identify(file, "%Q %[colorspace] %x %y %U"),
              std::to_string(c.storedQuality) + " " + c.colour + " 300 300 PixelsPerInch");
    if (std::string(c.colour) == "sRGB") {
        // Chroma at half resolution both ways, as libjpeg does by default.
        EXPECT_NE(RunTool("identify -verbose " + Quoted(file)).find("sampling-factor: 2x2,1x1,1x1"),
                  std::string::npos);
    }
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.bitmap.bitsPerPixel(), std::string(c.colour) == "Gray" ? 8 : 24);
    EXPECT_EQ(back.bitmap.xPelsPerMeter(), 11811);
    EXPECT_EQ(CompareColours(back.bitmap, DecodedByImageMagick(file, home.work()), 2), "");
}

INSTANTIATE_TEST_SUITE_P(Image, JpegWrite,
                         ::testing::Values(JpegCase{PatternKind::Rgb, 60, 60, "sRGB"},
                                           JpegCase{PatternKind::Rgba, 60, 60, "sRGB"},
                                           JpegCase{PatternKind::Palette, 85, 85, "sRGB"},
                                           JpegCase{PatternKind::Grey, 60, 60, "Gray"},
                                           JpegCase{PatternKind::Bilevel, 100, 100, "Gray"},
                                           JpegCase{PatternKind::Rgb, 0, 1, "sRGB"},
                                           JpegCase{PatternKind::Rgb, 250, 100, "sRGB"}),
                         [](const auto& row) {
                             return std::string(PatternName(row.param.kind)) + "_" +
                                    std::to_string(row.param.quality);
                         });

TEST_F(ImageWrite, JpegAtFullQualityStaysCloseToTheOriginal)
{
    // Grey has no chroma to subsample, so at quality 100 only rounding remains.
    const Bitmap original = MakePattern(PatternKind::Grey, 64, 40);
    const auto file = home.work() / "grey.jpg";
    ASSERT_TRUE(WriteImageFile(original, file.string(), {ImageCompression::Jpeg, 100}).ok());
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(CompareColours(back.bitmap, original, 3), "");
}

// Resolution reaches every format that has a place for it, each axis on its own.
class ResolutionWritten : public HomeTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ResolutionWritten, AsToolsSeeIt)
{
    Bitmap original = MakePattern(PatternKind::Rgb, 16, 8);
    original.setXPelsPerMeter(7874); // 200 dpi
    original.setYPelsPerMeter(3937); // 100 dpi
    const auto file = home.work() / (std::string("out.") + GetParam());
    ASSERT_TRUE(WriteImageFile(original, file.string()).ok());
    EXPECT_EQ(Identify(file, "%x %y", "-units PixelsPerInch"), "200 100");
    if (std::string(GetParam()) == "tif") {
        EXPECT_EQ(TiffField(file, "Resolution"), "200, 100 pixels/inch");
    }
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.bitmap.xPelsPerMeter(), 7874);
    EXPECT_EQ(back.bitmap.yPelsPerMeter(), 3937);
}

INSTANTIATE_TEST_SUITE_P(Image, ResolutionWritten, ::testing::Values("tif", "jpg", "png", "bmp"));

TEST_F(ImageWrite, PackBitsPageIsTiffWhateverItsName)
{
    const Bitmap page = MakePattern(PatternKind::Rgb, 200, 150, 11811);
    const auto file = home.work() / "page.dat";
    SavePackBitsTiff(page, file.string());
    EXPECT_EQ(TiffField(file, "Compression Scheme"), "PackBits");
    EXPECT_EQ(TiffField(file, "Rows/Strip"), "64");
    EXPECT_EQ(TiffField(file, "Resolution"), "300, 300 pixels/inch");
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.format, ImageFormat::Tiff);
    EXPECT_TRUE(back.bitmap == page);
}

TEST_F(ImageWrite, PackBitsPageThatCannotBeWrittenThrows)
{
    const Bitmap page = MakePattern(PatternKind::Grey, 8, 8);
    EXPECT_THROW(SavePackBitsTiff(page, (home.work() / "missing" / "page.tif").string()), Error);
    EXPECT_THROW(SavePackBitsTiff(Bitmap(), (home.work() / "page.tif").string()), Error);
    EXPECT_FALSE(fs::exists(home.work() / "page.tif"));
}

// Names in a folder, sorted.
std::vector<std::string> Listing(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(ImageWrite, FailedWritesSayWhyAndLeaveNothingBehind)
{
    const Bitmap image = MakePattern(PatternKind::Rgb, 8, 8);
    const auto folder = home.work() / "out";
    fs::create_directories(folder);
    writeFile(folder / "keep.tif", "previous content");

    struct Case {
        const char* name;
        fs::path path;
        Bitmap bitmap;
        ImageWriteOptions options;
    };
    const Case cases[] = {
        {"missing folder", folder / "no" / "a.tif", image, {}},
        {"unknown extension", folder / "a.xyz", image, {}},
        {"no extension", folder / "a", image, {}},
        {"empty bitmap", folder / "keep.tif", Bitmap(), {}},
        {"compression of another format", folder / "keep.tif", image, {ImageCompression::Rle8}},
        {"folder in the way", folder, image, {}},
    };
    for (const Case& c : cases) {
        const ImageWriteResult result = WriteImageFile(c.bitmap, c.path.string(), c.options);
        EXPECT_FALSE(result.ok()) << c.name;
        EXPECT_NE(result.error.find(c.path.string()), std::string::npos)
            << c.name << ": " << result.error;
    }
    EXPECT_EQ(Listing(folder), std::vector<std::string>{"keep.tif"});
    EXPECT_EQ(readFile(folder / "keep.tif"), "previous content");
}

// Lets no file of this process grow beyond a size until the end of the scope, as a full disk
// would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        // Writes beyond the limit then fail with EFBIG instead of killing the process.
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

TEST_F(ImageWrite, WriteThatRunsOutOfSpaceKeepsThePreviousFile)
{
    const Bitmap image = MakePattern(PatternKind::Rgb, 400, 300);
    for (const char* name : {"a.tif", "a.jpg", "a.png", "a.gif", "a.bmp"}) {
        const fs::path folder = home.work() / name;
        fs::create_directories(folder);
        const fs::path file = folder / name;
        writeFile(file, "previous content");
        ImageWriteResult result;
        {
            const FileSizeLimit limit(2000);
            result = WriteImageFile(image, file.string(), {ImageCompression::None, 100});
        }
        EXPECT_FALSE(result.ok()) << name;
        EXPECT_NE(result.error.find(file.string()), std::string::npos) << result.error;
        EXPECT_EQ(Listing(folder), std::vector<std::string>{name});
        EXPECT_EQ(readFile(file), "previous content") << name;
    }
}

TEST_F(ImageWrite, WriteReplacesAnExistingFileCompletely)
{
    const auto file = home.work() / "page.png";
    writeFile(file, std::string(100000, 'x'));
    const Bitmap image = MakePattern(PatternKind::Palette, 20, 10);
    ASSERT_TRUE(WriteImageFile(image, file.string()).ok());
    EXPECT_EQ(Listing(home.work()), std::vector<std::string>{"page.png"});
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_TRUE(back.bitmap == image);
}

TEST_F(ImageWrite, WriteIntoReadOnlyFolderFails)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    const auto folder = home.work() / "locked";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const ImageWriteResult result =
        WriteImageFile(MakePattern(PatternKind::Grey, 4, 4), (folder / "a.bmp").string());
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find("Permission denied"), std::string::npos) << result.error;
}

} // namespace
} // namespace pagewren::test
