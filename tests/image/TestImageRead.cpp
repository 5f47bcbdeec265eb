// Files made at test time by ImageMagick and libtiff's tools are read with the right pixels,
// depth and resolution.

#include "ImageTestSupport.h"
#include "TestHome.h"
#include "image/ImageFile.h"

#include <gtest/gtest.h>

#include <string>

namespace pagewren::test {
namespace {

// 37 x 23: rows that are not whole bytes at 1 bit, partial 16 x 16 tiles, an odd row count.
constexpr int kWidth = 37;
constexpr int kHeight = 23;

struct MadeFile {
    const char* name;
    PatternKind pattern;
    // Shell command; {in} is the pattern as a netpbm file, {out} the file to make.
    const char* command;
    const char* fileName;
    ImageFormat format;
    int bitsPerPixel;
    std::int32_t pelsPerMeter; // both axes; 0 when the file has no resolution
    // Lossy files are compared with ImageMagick's own decoding of them (as a 32-bit PNG), within
    // this tolerance per channel; the others with the pattern itself.
    int lossyTolerance = -1;
};

void PrintTo(const MadeFile& file, std::ostream* out)
{
    *out << file.name;
}

constexpr const char* kPpi300 = "-density 300 -units PixelsPerInch";

const MadeFile kMadeFiles[] = {
    // TIFF: compressions, layouts and depths.
    {"TiffRgbNone", PatternKind::Rgb,
     "convert {in} -density 300 -units PixelsPerInch -compress None {out}", "a.tif",
     ImageFormat::Tiff, 24, 11811},
    {"TiffRgbLzw", PatternKind::Rgb,
     "convert {in} -density 200 -units PixelsPerInch -compress LZW {out}", "a.tif",
     ImageFormat::Tiff, 24, 7874},
    {"TiffRgbDeflate", PatternKind::Rgb, "convert {in} -compress Zip {out}", "a.tiff",
     ImageFormat::Tiff, 24, 0},
    {"TiffRgbPackBits", PatternKind::Rgb, "convert {in} -compress RLE {out}", "a.tif",
     ImageFormat::Tiff, 24, 0},
    {"TiffRgbJpeg", PatternKind::Rgb,
     "convert {in} -compress JPEG -quality 100 -sampling-factor 1x1 {out}", "a.tif",
     ImageFormat::Tiff, 24, 0, 6},
    {"TiffRgbTiled", PatternKind::Rgb,
     "convert {in} -define tiff:tile-geometry=16x16 -compress LZW {out}", "a.tif",
     ImageFormat::Tiff, 24, 0},
    {"TiffRgb16Bit", PatternKind::Rgb, "convert {in} -depth 16 -compress Zip {out}", "a.tif",
     ImageFormat::Tiff, 24, 0},
    {"TiffRgba", PatternKind::Rgba, "convert {in} -compress LZW {out}", "a.tif", ImageFormat::Tiff,
     32, 0},
    {"TiffGrey", PatternKind::Grey, "convert {in} -density 300 -units PixelsPerInch {out}", "a.tif",
     ImageFormat::Tiff, 8, 11811},
    {"TiffGreyMinIsWhite", PatternKind::Grey,
     "convert {in} -define tiff:photometric=min-is-white {out}", "a.tif", ImageFormat::Tiff, 8, 0},
    {"TiffGrey16Bit", PatternKind::Grey, "convert {in} -depth 16 {out}", "a.tif", ImageFormat::Tiff,
     8, 0},
    {"TiffPalette", PatternKind::Palette, "convert {in} -type Palette -compress LZW {out}", "a.tif",
     ImageFormat::Tiff, 8, 0},
    {"TiffBilevelGroup4", PatternKind::Bilevel, "convert {in} -compress Group4 {out}", "a.tif",
     ImageFormat::Tiff, 1, 0},
    {"TiffBilevelMinIsBlack", PatternKind::Bilevel,
     "convert {in} -type Bilevel -define tiff:photometric=min-is-black -compress None {out}",
     "a.tif", ImageFormat::Tiff, 1, 0},
    {"TiffCmyk", PatternKind::Rgb, "convert {in} -colorspace CMYK {out}", "a.tif",
     ImageFormat::Tiff, 24, 0, 2},
    {"TiffResolutionInCentimetres", PatternKind::Rgb,
     "convert {in} -units PixelsPerCentimeter -density 118.11 {out}", "a.tif", ImageFormat::Tiff,
     24, 11811},
    {"TiffFirstOfTwoPages", PatternKind::Rgb, "convert {in} \\( {in} -negate \\) {out}", "a.tif",
     ImageFormat::Tiff, 24, 0},
    {"TiffGreyWithAlpha", PatternKind::Rgba,
     "convert {in} -colorspace Gray -type GrayscaleAlpha {out}", "a.tif", ImageFormat::Tiff, 32, 0,
     0},
    {"TiffcpBigTiff", PatternKind::Palette,
     "convert {in} -type Palette -compress None {out}.src.tif && tiffcp -8 -c lzw {out}.src.tif "
     "{out}",
     "a.tif", ImageFormat::Tiff, 8, 0},
    {"TiffcpTiledLzw", PatternKind::Rgb,
     "convert {in} -compress None {out}.src.tif && tiffcp -t -w 32 -l 16 -c lzw {out}.src.tif "
     "{out}",
     "a.tif", ImageFormat::Tiff, 24, 0},
    {"TiffcpPlanarSeparate", PatternKind::Rgb,
     "convert {in} -compress None {out}.src.tif && tiffcp -p separate {out}.src.tif {out}", "a.tif",
     ImageFormat::Tiff, 24, 0},
    {"TiffcpYCbCrJpeg", PatternKind::Rgb,
     "convert {in} -compress None {out}.src.tif && tiffcp -c jpeg:90 {out}.src.tif {out}", "a.tif",
     ImageFormat::Tiff, 24, 0, 2},
    {"TiffcpDeflateOddStrips", PatternKind::Grey,
     "convert {in} -compress None {out}.src.tif && tiffcp -c zip -r 7 {out}.src.tif {out}", "a.tif",
     ImageFormat::Tiff, 8, 0},
    {"TiffcpPackBits16Bit", PatternKind::Rgb,
     "convert {in} -depth 16 -compress None {out}.src.tif && tiffcp -c packbits {out}.src.tif "
     "{out}",
     "a.tif", ImageFormat::Tiff, 24, 0},
    {"TiffcpGroup3", PatternKind::Bilevel,
     "convert {in} -compress None {out}.src.tif && tiffcp -c g3 {out}.src.tif {out}", "a.tif",
     ImageFormat::Tiff, 1, 0},
    {"TiffcpTiledBilevel", PatternKind::Bilevel,
     "convert {in} -compress None {out}.src.tif && tiffcp -t -w 16 -l 16 {out}.src.tif {out}",
     "a.tif", ImageFormat::Tiff, 1, 0},
    {"TiffcpTiledPalette", PatternKind::Palette,
     "convert {in} -type Palette -compress None {out}.src.tif && tiffcp -t -w 16 -l 16 -c zip "
     "{out}.src.tif {out}",
     "a.tif", ImageFormat::Tiff, 8, 0},

    // JPEG.
    {"JpegRgb", PatternKind::Rgb,
     "convert {in} -density 300 -units PixelsPerInch -quality 100 -sampling-factor 1x1 {out}",
     "a.jpg", ImageFormat::Jpeg, 24, 11811, 2},
    {"JpegGrey", PatternKind::Grey, "convert {in} -quality 100 {out}", "a.jpeg", ImageFormat::Jpeg,
     8, 0, 2},
    {"JpegProgressive", PatternKind::Rgb,
     "convert {in} -interlace Plane -quality 100 -sampling-factor 1x1 {out}", "a.jpg",
     ImageFormat::Jpeg, 24, 0, 2},
    {"JpegCmyk", PatternKind::Rgb,
     "convert {in} -colorspace CMYK -quality 100 -sampling-factor 1x1 {out}", "a.jpg",
     ImageFormat::Jpeg, 24, 0, 2},
    {"JpegResolutionInCentimetres", PatternKind::Grey,
     "convert {in} -units PixelsPerCentimeter -density 100 -quality 100 {out}", "a.jpg",
     ImageFormat::Jpeg, 8, 10000, 2},

    // PNG.
    {"PngRgb", PatternKind::Rgb, "convert {in} -density 300 -units PixelsPerInch {out}", "a.png",
     ImageFormat::Png, 24, 11811},
    {"PngRgba", PatternKind::Rgba, "convert {in} {out}", "a.png", ImageFormat::Png, 32, 0},
    {"PngGrey", PatternKind::Grey, "convert {in} {out}", "a.png", ImageFormat::Png, 8, 0},
    {"PngGrey16Bit", PatternKind::Grey, "convert {in} -depth 16 {out}", "a.png", ImageFormat::Png,
     8, 0},
    {"PngRgb16Bit", PatternKind::Rgb, "convert {in} -depth 16 {out}", "a.png", ImageFormat::Png, 24,
     0},
    {"PngPalette", PatternKind::Palette, "convert {in} -type Palette PNG8:{out}", "a.png",
     ImageFormat::Png, 8, 0},
    {"PngGrey2Bit", PatternKind::Grey, "convert {in} -depth 2 {out}", "a.png", ImageFormat::Png, 8,
     0, 0},
    {"PngBilevel", PatternKind::Bilevel, "convert {in} -type Bilevel {out}", "a.png",
     ImageFormat::Png, 1, 0},
    {"PngInterlaced", PatternKind::Rgb, "convert {in} -interlace PNG {out}", "a.png",
     ImageFormat::Png, 24, 0},
    {"PngGreyWithAlpha", PatternKind::Rgba,
     "convert {in} -colorspace Gray -type GrayscaleAlpha {out}", "a.png", ImageFormat::Png, 32, 0,
     0},

    // GIF: the first image.
    {"GifPalette", PatternKind::Palette, "convert {in} {out}", "a.gif", ImageFormat::Gif, 8, 0},
    {"GifInterlaced", PatternKind::Palette, "convert {in} -interlace GIF {out}", "a.gif",
     ImageFormat::Gif, 8, 0},
    {"GifFirstOfTwoFrames", PatternKind::Palette, "convert {in} \\( {in} -negate \\) {out}",
     "a.gif", ImageFormat::Gif, 8, 0},
    {"GifBilevel", PatternKind::Bilevel, "convert {in} {out}", "a.gif", ImageFormat::Gif, 8, 0},

    // BMP: header versions, depths and run-length coding.
    {"BmpRgbV3", PatternKind::Rgb, "convert {in} -density 300 -units PixelsPerInch BMP3:{out}",
     "a.bmp", ImageFormat::Bmp, 24, 11811},
    {"BmpRgbV5", PatternKind::Rgb, "convert {in} -type TrueColor BMP:{out}", "a.bmp",
     ImageFormat::Bmp, 24, 0},
    {"BmpRgbOs2", PatternKind::Rgb, "convert {in} BMP2:{out}", "a.bmp", ImageFormat::Bmp, 24, 0},
    {"BmpRgba", PatternKind::Rgba, "convert {in} BMP:{out}", "a.bmp", ImageFormat::Bmp, 32, 0},
    {"BmpRgb565", PatternKind::Grey,
     "convert {in} -type TrueColor -define bmp:subtype=RGB565 {out}", "a.bmp", ImageFormat::Bmp, 24,
     0, 1},
    {"BmpPalette4Bit", PatternKind::Palette, "convert {in} -type Palette -compress None BMP3:{out}",
     "a.bmp", ImageFormat::Bmp, 8, 0},
    // ImageMagick reduces these to fewer greys on the way.
    {"BmpPalette8Bit", PatternKind::Grey, "convert {in} -type Palette -compress None BMP3:{out}",
     "a.bmp", ImageFormat::Bmp, 8, 0, 0},
    {"BmpPaletteRle8", PatternKind::Palette, "convert {in} -type Palette -compress RLE BMP3:{out}",
     "a.bmp", ImageFormat::Bmp, 8, 0},
    {"BmpGreyRle8", PatternKind::Grey, "convert {in} -type Palette -compress RLE BMP3:{out}",
     "a.bmp", ImageFormat::Bmp, 8, 0, 0},
    {"BmpBilevel", PatternKind::Bilevel, "convert {in} -type Bilevel BMP3:{out}", "a.bmp",
     ImageFormat::Bmp, 1, 0},
};

class MadeFileTest : public HomeTest, public ::testing::WithParamInterface<MadeFile> {};

std::string Expand(std::string command, const std::string& in, const std::string& out)
{
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{in}", in},
                                     std::pair<std::string, std::string>{"{out}", out}}) {
        for (std::size_t at = command.find(key); at != std::string::npos;
             at = command.find(key, at + value.size()))
            command.replace(at, key.size(), value);
    }
    return command;
}

TEST_P(MadeFileTest, ReadsPixelsDepthAndResolution)
{
    const MadeFile& file = GetParam();
    const Bitmap pattern = MakePattern(file.pattern, kWidth, kHeight);
    const bool withAlpha = file.pattern == PatternKind::Rgba;
    const auto source = home.work() / (withAlpha ? "pattern.pam" : "pattern.pnm");
    WriteNetpbm(pattern, source);
    const auto target = home.work() / file.fileName;
    RunTool(Expand(file.command, Quoted(source), Quoted(target)));

    const ImageReadResult result = ReadImageFile(target.string());
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.format, file.format);
    EXPECT_EQ(result.bitmap.bitsPerPixel(), file.bitsPerPixel);
    if (file.lossyTolerance < 0) {
        EXPECT_EQ(CompareColours(result.bitmap, pattern), "");
    } else {
        const auto reference = home.work() / "reference.png";
        RunTool("convert " + Quoted(target) + "[0] PNG32:" + Quoted(reference));
        const ImageReadResult expected = ReadImageFile(reference.string());
        ASSERT_TRUE(expected.ok()) << expected.error;
        EXPECT_EQ(CompareColours(result.bitmap, expected.bitmap, file.lossyTolerance), "");
    }
    EXPECT_EQ(result.bitmap.xPelsPerMeter(), file.pelsPerMeter);
    EXPECT_EQ(result.bitmap.yPelsPerMeter(), file.pelsPerMeter);
}

INSTANTIATE_TEST_SUITE_P(Image, MadeFileTest, ::testing::ValuesIn(kMadeFiles),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace pagewren::test
