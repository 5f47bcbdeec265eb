// The image document: loading with the resolution file beside the page, resolution in dots per
// inch, saving by extension and quality without changing the document.

#include "ImageTestSupport.h"
#include "TestHome.h"
#include "image/DWImage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;

using DWImageTest = HomeTest;

// A page as the scanner leaves it, at 72 dpi so that any resolution file shows.
fs::path WritePage(const fs::path& path, PatternKind kind = PatternKind::Rgb)
{
    fs::create_directories(path.parent_path());
    const ImageWriteResult result = WriteImageFile(MakePattern(kind, 40, 30, 2835), path.string(),
                                                   ImageFormat::Tiff, {ImageCompression::PackBits});
    EXPECT_TRUE(result.ok()) << result.error;
    return path;
}

TEST(DWImage, NewDocumentIsEmpty)
{
    const TDWImage document;
    EXPECT_TRUE(document.Bitmap().isEmpty());
    EXPECT_EQ(document.SourceFile(), "");
    EXPECT_EQ(document.GetDPI(), 0u);
}

TEST(DWImage, ResolutionInDotsPerInch)
{
    struct Case {
        std::uint32_t dpi;
        std::int32_t ppm;
        unsigned readBack;
    };
    const Case cases[] = {{72, 2835, 72},    {100, 3937, 100},  {200, 7874, 200},
                          {300, 11811, 300}, {600, 23622, 600}, {0, 0, 0}};
    for (const Case& c : cases) {
        TDWImage document;
        document.Assign(MakePattern(PatternKind::Grey, 4, 4, 1));
        document.SetDPI(c.dpi);
        EXPECT_EQ(document.Bitmap().xPelsPerMeter(), c.ppm) << c.dpi;
        EXPECT_EQ(document.Bitmap().yPelsPerMeter(), c.ppm) << c.dpi;
        EXPECT_EQ(document.GetDPI(), c.readBack) << c.dpi;
    }
}

TEST(DWImage, EachAxisOnItsOwn)
{
    TDWImage document;
    const Bitmap original = MakePattern(PatternKind::Rgb, 5, 3, 1000);
    document.Assign(original);
    document.SetDPIX(200);
    EXPECT_EQ(document.Bitmap().xPelsPerMeter(), 7874);
    EXPECT_EQ(document.Bitmap().yPelsPerMeter(), 1000);
    document.SetDPIY(100);
    EXPECT_EQ(document.Bitmap().xPelsPerMeter(), 7874);
    EXPECT_EQ(document.Bitmap().yPelsPerMeter(), 3937);
    EXPECT_EQ(document.GetDPI(), 200u);
    // Only the two fields change.
    Bitmap expected = original;
    expected.setXPelsPerMeter(7874);
    expected.setYPelsPerMeter(3937);
    EXPECT_TRUE(document.Bitmap() == expected);
}

TEST(DWImage, ResolutionFileName)
{
    struct Case {
        const char* image;
        const char* resolutionFile;
    };
    const Case cases[] = {
        {"/job/img_001.tif", "/job/img_001.INI"},
        {"/scans.old/page", "/scans.old/page.INI"},
        {"/a/b.c.tif", "/a/b.c.INI"},
        {"/a/page.", "/a/page.INI"},
        {"/a/.hidden", "/a/.INI"},
        {"page.TIFF", "page.INI"},
        {"page", "page.INI"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TDWImage::ResolutionFileName(c.image), c.resolutionFile) << c.image;
}

TEST_F(DWImageTest, LoadAppliesTheResolutionFile)
{
    struct Case {
        const char* name;
        const char* iniName; // beside img_001.tif; nullptr for none
        const char* iniText;
        std::int32_t x, y;
        unsigned dpi;
    };
    const Case cases[] = {
        {"300 both ways", "img_001.INI", "[bitmap_ext]\ndpi_x=300\ndpi_y=300\n", 11811, 11811, 300},
        {"200 by 100", "img_001.INI", "[bitmap_ext]\ndpi_x=200\ndpi_y=100\n", 7874, 3937, 200},
        {"no such section", "img_001.INI", "[bitmap]\ndpi_x=300\ndpi_y=300\n", 0, 0, 0},
        {"one key", "img_001.INI", "[bitmap_ext]\ndpi_y=150\n", 0, 5906, 0},
        {"invalid values", "img_001.INI", "[bitmap_ext]\ndpi_x=high\ndpi_y=-300\n", 0, 0, 0},
        {"no resolution file", nullptr, "", 2835, 2835, 72},
        // Only the upper-case name counts where file names tell case apart.
        {"lower-case extension", "img_001.ini", "[bitmap_ext]\ndpi_x=300\ndpi_y=300\n", 2835, 2835,
         72},
        {"named after the whole file name", "img_001.tif.INI",
         "[bitmap_ext]\ndpi_x=300\ndpi_y=300\n", 2835, 2835, 72},
    };
    for (const Case& c : cases) {
        const fs::path folder = home.work() / c.name;
        const fs::path page = WritePage(folder / "img_001.tif");
        if (c.iniName)
            writeFile(folder / c.iniName, c.iniText);
        TDWImage document;
        ASSERT_TRUE(document.LoadFromFile(page.string())) << c.name << ": " << document.LastError();
        EXPECT_EQ(document.Bitmap().xPelsPerMeter(), c.x) << c.name;
        EXPECT_EQ(document.Bitmap().yPelsPerMeter(), c.y) << c.name;
        EXPECT_EQ(document.GetDPI(), c.dpi) << c.name;
        EXPECT_EQ(document.SourceFile(), page.string()) << c.name;
    }
}

TEST_F(DWImageTest, DotsInFolderNamesAndNamesWithoutExtension)
{
    const fs::path folder = home.work() / "scans.old";
    const fs::path page = WritePage(folder / "page");
    writeFile(folder / "page.INI", "[bitmap_ext]\ndpi_x=200\ndpi_y=200\n");
    writeFile(home.work() / "scans.INI", "[bitmap_ext]\ndpi_x=100\ndpi_y=100\n");
    TDWImage document;
    ASSERT_TRUE(document.LoadFromFile(page.string())) << document.LastError();
    EXPECT_EQ(document.GetDPI(), 200u);
}

TEST_F(DWImageTest, FolderNamedLikeTheResolutionFileIsIgnored)
{
    const fs::path page = WritePage(home.work() / "img_001.tif");
    fs::create_directories(home.work() / "img_001.INI");
    TDWImage document;
    ASSERT_TRUE(document.LoadFromFile(page.string())) << document.LastError();
    EXPECT_EQ(document.GetDPI(), 72u);
}

TEST_F(DWImageTest, FailedLoadLeavesTheDocumentAsItWas)
{
    const fs::path page = WritePage(home.work() / "img_001.tif");
    writeFile(home.work() / "broken.tif", "II*\0 not really a TIFF");
    writeFile(home.work() / "broken.INI", "[bitmap_ext]\ndpi_x=600\n");
    TDWImage document;
    ASSERT_TRUE(document.LoadFromFile(page.string()));
    const Bitmap loaded = document.Bitmap();

    for (const char* name : {"missing.tif", "broken.tif", ""}) {
        const std::string path = name[0] ? (home.work() / name).string() : std::string();
        EXPECT_FALSE(document.LoadFromFile(path)) << name;
        EXPECT_FALSE(document.LastError().empty()) << name;
        EXPECT_EQ(document.SourceFile(), page.string()) << name;
        EXPECT_TRUE(document.Bitmap() == loaded) << name;
    }
}

struct SaveCase {
    const char* fileName;
    std::uint8_t quality;
    // What identify reports: format, compression, and for JPEG the quality.
    const char* identified;
};

void PrintTo(const SaveCase& c, std::ostream* out)
{
    *out << c.fileName << " at " << int(c.quality);
}

class DWImageSave : public DWImageTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(DWImageSave, ExtensionAndQualityChooseTheCompression)
{
    const SaveCase& c = GetParam();
    TDWImage document;
    document.Assign(MakePattern(PatternKind::Palette, 40, 30, 11811));
    const Bitmap before = document.Bitmap();
    const fs::path file = home.work() / c.fileName;
    const ImageWriteResult result = document.SaveToFileChecked(file.string(), c.quality);
    ASSERT_TRUE(result.ok()) << result.error;

    const bool jpeg = std::string(c.identified).starts_with("JPEG");
    EXPECT_EQ(
        RunTool("identify -format '%m %C" + std::string(jpeg ? " %Q" : "") + "' " + Quoted(file)),
        c.identified);
    // The document is exactly as before: pixels, palette and resolution.
    EXPECT_TRUE(document.Bitmap() == before);
    const ImageReadResult back = ReadImageFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(CompareColours(back.bitmap, before, jpeg ? 255 : 0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Image, DWImageSave,
    ::testing::Values(
        SaveCase{"copy.JPG", 60, "JPEG JPEG 60"}, SaveCase{"copy.jpeg", 60, "JPEG JPEG 60"},
        SaveCase{"copy.jpg", 0, "JPEG JPEG 100"}, SaveCase{"copy.jpg", 200, "JPEG JPEG 100"},
        SaveCase{"copy.jpg", 1, "JPEG JPEG 1"},
        // Not in the table: the default quality.
        SaveCase{"copy.jpe", 60, "JPEG JPEG 100"}, SaveCase{"copy.tif", 60, "TIFF LZW"},
        SaveCase{"copy.TIFF", 200, "TIFF LZW"}, SaveCase{"copy.tif", 0, "TIFF None"},
        SaveCase{"copy.bmp", 60, "BMP3 RLE"}, SaveCase{"copy.Bmp", 0, "BMP3 None"},
        SaveCase{"copy.png", 60, "PNG Zip"}, SaveCase{"copy.png", 0, "PNG Zip"},
        SaveCase{"copy.gif", 60, "GIF LZW"}, SaveCase{"copy.gif", 0, "GIF LZW"}),
    [](const auto& row) {
        std::string name = row.param.fileName;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name + "_" + std::to_string(row.param.quality);
    });

TEST_F(DWImageTest, QualityZeroSelectsNoCompression)
{
    TDWImage document;
    document.Assign(MakePattern(PatternKind::Grey, 64, 64, 11811));
    for (const char* name : {"a.png", "a.gif"}) {
        document.SaveToFile((home.work() / ("0" + std::string(name))).string(), 0);
        document.SaveToFile((home.work() / ("60" + std::string(name))).string(), 60);
    }
    // PNG stored without deflating is larger than deflated; GIF stays 87a without the scheme.
    EXPECT_GT(fs::file_size(home.work() / "0a.png"), fs::file_size(home.work() / "60a.png"));
    EXPECT_EQ(readFile(home.work() / "0a.gif").substr(0, 6), "GIF87a");
    EXPECT_EQ(readFile(home.work() / "60a.gif").substr(0, 6), "GIF89a");
}

TEST_F(DWImageTest, SaveThatFailsReportsNothingAndWritesNothing)
{
    TDWImage document;
    document.Assign(MakePattern(PatternKind::Rgb, 8, 8));
    for (const char* name : {"copy.xyz", "copy", "missing/copy.jpg"}) {
        const fs::path file = home.work() / name;
        EXPECT_NO_THROW(document.SaveToFile(file.string(), 60)) << name;
        EXPECT_FALSE(fs::exists(file)) << name;
        EXPECT_FALSE(document.SaveToFileChecked(file.string(), 60).ok()) << name;
    }
    EXPECT_TRUE(fs::is_empty(home.work()));
}

TEST(DWImage, AssignCopies)
{
    Bitmap source = MakePattern(PatternKind::Palette, 6, 4, 3937);
    const Bitmap original = source;
    TDWImage document;
    document.Assign(source);
    source.row(0)[0] ^= 1;
    source.palette().clear();
    EXPECT_TRUE(document.Bitmap() == original);

    Bitmap copy;
    document.AssignTo(copy);
    EXPECT_TRUE(copy == original);
    copy.setXPelsPerMeter(1);
    EXPECT_TRUE(document.Bitmap() == original);

    TDWImage other;
    other.Assign(document);
    EXPECT_TRUE(other.Bitmap() == original);
    TDWImage third;
    document.AssignTo(third);
    EXPECT_TRUE(third.Bitmap() == original);
    EXPECT_EQ(third.SourceFile(), ""); // only loading names a source

    document.Assign(document);
    EXPECT_TRUE(document.Bitmap() == original);
}

TEST_F(DWImageTest, DocumentsOnSeveralThreadsDoNotDisturbEachOther)
{
    // As the JPEG conversion runs: one document per worker, each loading pages and saving copies.
    constexpr int kPages = 8;
    std::vector<fs::path> pages;
    for (int i = 0; i < kPages; ++i) {
        const fs::path page = home.work() / ("img_00" + std::to_string(i) + ".tif");
        const Bitmap bitmap =
            MakePattern(i % 2 ? PatternKind::Rgb : PatternKind::Grey, 300 + i * 7, 200 + i, 2835);
        ASSERT_TRUE(WriteImageFile(bitmap, page.string(), {ImageCompression::PackBits}).ok());
        writeFile(page.parent_path() / (page.stem().string() + ".INI"),
                  "[bitmap_ext]\ndpi_x=" + std::to_string(100 + i) + "\ndpi_y=300\n");
        pages.push_back(page);
    }
    auto convert = [&](int page, const std::string& suffix) {
        TDWImage document;
        if (!document.LoadFromFile(pages[page].string()))
            return;
        document.SaveToFile(pages[page].string() + suffix + ".JPG", 60);
    };
    for (int i = 0; i < kPages; ++i)
        convert(i, "_serial");
    std::vector<std::thread> workers;
    for (int worker = 0; worker < 4; ++worker)
        workers.emplace_back([&, worker] {
            for (int i = worker; i < kPages; i += 4)
                convert(i, "_parallel");
        });
    for (auto& worker : workers)
        worker.join();
    for (const auto& page : pages) {
        const std::string serial = readFile(page.string() + "_serial.JPG");
        EXPECT_FALSE(serial.empty());
        EXPECT_EQ(readFile(page.string() + "_parallel.JPG"), serial) << page;
    }
}

} // namespace
} // namespace pagewren::test
