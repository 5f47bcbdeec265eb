// The short way from a scanned page to its JPEG copy writes exactly the bytes the image document
// writes, and leaves every page it does not take to the image document.

#include "image/DWImage.h"
#include "image/DirectJpegCopy.h"
#include "image/PackBitsTiff.h"
#include "image/PageCompressor.h"
#include "image/Resolution.h"

#include "ImageTestSupport.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;

// 301 x 203: 64-row strips end in a partial one; rows are not a multiple of 16 or 8.
constexpr int kWidth = 301;
constexpr int kHeight = 203;

struct PageCase {
    const char* name;
    PatternKind pattern;
    // Shell command making {out} from {in}, the pattern as a netpbm file; nullptr: our own
    // PackBits writer at 300 dpi.
    const char* command;
    // Content of the page's resolution file; nullptr: none.
    const char* resolutionFile = nullptr;
};

void PrintTo(const PageCase& page, std::ostream* out)
{
    *out << page.name;
}

std::string replaced(std::string text, const std::string& key, const std::string& value)
{
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
        text.replace(at, key.size(), value);
    return text;
}

class DirectJpegCopyTest : public HomeTest, public ::testing::WithParamInterface<PageCase> {
protected:
    fs::path makePage()
    {
        const PageCase& page = GetParam();
        const fs::path path = home.work() / "img_001.tif";
        const Bitmap pattern = MakePattern(page.pattern, kWidth, kHeight);
        if (!page.command) {
            SavePackBitsTiff(pattern, path.string());
        } else {
            const fs::path in = home.work() / "pattern.pnm";
            WriteNetpbm(pattern, in);
            RunTool(replaced(replaced(page.command, "{in}", Quoted(in)), "{out}", Quoted(path)));
        }
        if (page.resolutionFile)
            writeFile(home.work() / "img_001.INI", page.resolutionFile);
        return path;
    }

    // What the image document writes for the page; empty when it cannot load it.
    std::string documentCopy(const fs::path& page)
    {
        TDWImage document;
        if (!document.LoadFromFile(page.string()))
            return "";
        const fs::path copy = home.work() / "document.JPG";
        EXPECT_TRUE(document.SaveToFileChecked(copy.string(), PageCompressor::kQuality).ok());
        return readFile(copy);
    }
};

class TakenPageTest : public DirectJpegCopyTest {};

TEST_P(TakenPageTest, CopyIsByteForByteTheImageDocuments)
{
    const fs::path page = makePage();
    const fs::path copy = home.work() / "img_001_COMPRESSED.JPG";
    writeFile(copy, "an older copy");

    ASSERT_TRUE(DirectJpegCopy::Write(page.string(), copy.string(), PageCompressor::kQuality));

    const std::string expected = documentCopy(page);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(readFile(copy) == expected) << "the copy differs from the image document's";
}

const PageCase kTakenPages[] = {
    {"OurPackBitsWriter", PatternKind::Rgb, nullptr},
    {"PackBits64Rows", PatternKind::Rgb,
     "convert {in} -compress None {out}.plain.tif && tiffcp -c packbits -r 64 {out}.plain.tif "
     "{out}"},
    {"LzwOneRowPerStrip", PatternKind::Rgb,
     "convert {in} -compress None {out}.plain.tif && tiffcp -c lzw -r 1 {out}.plain.tif {out}"},
    {"DeflateSevenRows", PatternKind::Rgb,
     "convert {in} -compress None {out}.plain.tif && tiffcp -c zip -r 7 {out}.plain.tif {out}"},
    {"UncompressedOneStrip", PatternKind::Rgb,
     "convert {in} -compress None {out}.plain.tif && tiffcp -c none -r 1000 {out}.plain.tif "
     "{out}"},
    {"BigEndian", PatternKind::Rgb, "convert {in} -endian MSB -compress RLE {out}"},
    {"ResolutionUnequalInches", PatternKind::Rgb,
     "convert {in} -density 200x100 -units PixelsPerInch -compress RLE {out}"},
    {"ResolutionInCentimetres", PatternKind::Rgb,
     "convert {in} -density 118.11 -units PixelsPerCentimeter -compress RLE {out}"},
    {"ResolutionFractional", PatternKind::Rgb,
     "convert {in} -density 299.6 -units PixelsPerInch -compress RLE {out}"},
    {"NoResolution", PatternKind::Rgb, "convert {in} -compress RLE {out}"},
    {"ResolutionFileEqual", PatternKind::Rgb, nullptr, "[bitmap_ext]\ndpi_x=200\ndpi_y=200\n"},
    {"ResolutionFileUnequal", PatternKind::Rgb, nullptr, "[bitmap_ext]\ndpi_x=200\ndpi_y=100\n"},
    {"ResolutionFileWithoutSection", PatternKind::Rgb, nullptr, "[other]\ndpi_x=200\n"},
    {"ResolutionFileNegative", PatternKind::Rgb, nullptr, "[bitmap_ext]\ndpi_x=-200\ndpi_y=300\n"},
    {"ResolutionFileHuge", PatternKind::Rgb, nullptr, "[bitmap_ext]\ndpi_x=70000\ndpi_y=70000\n"},
};

INSTANTIATE_TEST_SUITE_P(Pages, TakenPageTest, ::testing::ValuesIn(kTakenPages),
                         [](const auto& row) { return std::string(row.param.name); });

// Pages of any other layout, and files that are no such page, are left to the image document:
// nothing is written, an older copy stays, and the whole conversion still ends as the image
// document has it.
class DeclinedPageTest : public DirectJpegCopyTest {};

TEST_P(DeclinedPageTest, IsLeftToTheImageDocument)
{
    const fs::path page = makePage();
    const fs::path copy = home.work() / "img_001_COMPRESSED.JPG";
    writeFile(copy, "an older copy");

    EXPECT_FALSE(DirectJpegCopy::Write(page.string(), copy.string(), PageCompressor::kQuality));
    EXPECT_EQ(readFile(copy), "an older copy");

    const std::string expected = documentCopy(page);
    TDWImage worker;
    const bool converted = PageCompressor::WriteJpegCopy(worker, page.string(), copy.string());
    EXPECT_EQ(converted, !expected.empty());
    if (converted) {
        EXPECT_TRUE(readFile(copy) == expected) << "the copy differs from the image document's";
    }
}

const PageCase kDeclinedPages[] = {
    {"Grey", PatternKind::Grey, "convert {in} -compress RLE {out}"},
    {"Palette", PatternKind::Palette, "convert {in} -type Palette -compress RLE {out}"},
    {"Bilevel", PatternKind::Bilevel, "convert {in} -compress Group4 {out}"},
    {"Rgb16Bit", PatternKind::Rgb, "convert {in} -depth 16 -compress RLE {out}"},
    {"Rgba", PatternKind::Rgba, "convert {in} -compress RLE {out}"},
    {"Tiled", PatternKind::Rgb,
     "convert {in} -define tiff:tile-geometry=16x16 -compress LZW {out}"},
    {"PlanesSeparate", PatternKind::Rgb,
     "convert {in} -compress None {out}.plain.tif && tiffcp -p separate {out}.plain.tif {out}"},
    {"BottomRowFirst", PatternKind::Rgb, "convert {in} -orient BottomLeft -compress RLE {out}"},
    {"JpegCompressed", PatternKind::Rgb, "convert {in} -compress JPEG {out}"},
    {"PngNamedTif", PatternKind::Rgb, "convert {in} png:{out}"},
    // Strip 9's data all no-op bytes of PackBits: the strip decodes to too few rows.
    {"DamagedStrip", PatternKind::Rgb,
     "convert {in} -compress None {out}.plain.tif && tiffcp -c packbits -r 8 {out}.plain.tif {out}"
     " && set -- $(tiffinfo -s {out} | awk '/^ +9: \\[/ {gsub(/[][,]/, \" \"); print $2, $3}')"
     " && head -c $2 /dev/zero | tr '\\0' '\\200' | dd of={out} bs=1 seek=$1 conv=notrunc"},
    {"NotAnImage", PatternKind::Rgb, "echo 'no picture here' > {out}"},
    {"Missing", PatternKind::Rgb, "true"},
    {"Folder", PatternKind::Rgb, "mkdir {out}"},
};

INSTANTIATE_TEST_SUITE_P(Pages, DeclinedPageTest, ::testing::ValuesIn(kDeclinedPages),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace pagewren::test
