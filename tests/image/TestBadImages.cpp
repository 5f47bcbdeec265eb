// Missing, truncated, damaged and hostile files give an error result: no exception, no crash,
// and no memory taken for pixels the file cannot hold.

#include "ImageTestSupport.h"
#include "TestHome.h"
#include "image/ImageFile.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;

using BadImages = HomeTest;

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

ImageReadResult ReadBytes(const std::vector<std::uint8_t>& bytes,
                          ImageFormat hint = ImageFormat::Unknown)
{
    return ReadImageData(bytes, hint);
}

// Valid small files of every format and the layouts that have their own decoding paths.
struct Sample {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

std::vector<Sample> MakeSamples(const fs::path& folder)
{
    struct Written {
        const char* name;
        PatternKind kind;
        ImageCompression compression;
    };
    const Written written[] = {
        {"plain.tif", PatternKind::Rgb, ImageCompression::None},
        {"lzw.tif", PatternKind::Grey, ImageCompression::Lzw},
        {"packbits.tif", PatternKind::Bilevel, ImageCompression::PackBits},
        {"palette.tif", PatternKind::Palette, ImageCompression::Lzw},
        {"baseline.jpg", PatternKind::Rgb, ImageCompression::Jpeg},
        {"grey.jpg", PatternKind::Grey, ImageCompression::Jpeg},
        {"rgba.png", PatternKind::Rgba, ImageCompression::Deflate},
        {"bilevel.png", PatternKind::Bilevel, ImageCompression::Deflate},
        {"palette.gif", PatternKind::Palette, ImageCompression::Gif89a},
        {"rgb.bmp", PatternKind::Rgb, ImageCompression::None},
        {"rle8.bmp", PatternKind::Palette, ImageCompression::Rle8},
    };
    std::vector<Sample> samples;
    for (const Written& w : written) {
        const fs::path file = folder / w.name;
        const ImageWriteResult result =
            WriteImageFile(MakePattern(w.kind, 37, 23), file.string(), {w.compression, 80});
        EXPECT_TRUE(result.ok()) << result.error;
        samples.push_back({w.name, Bytes(readFile(file))});
    }
    // Layouts only other writers make.
    const fs::path source = folder / "pattern.ppm";
    WriteNetpbm(MakePattern(PatternKind::Rgb, 37, 23), source);
    const std::pair<const char*, std::string> made[] = {
        // Stripped of text chunks, so that the pixel data runs to the end of the file.
        {"progressive.jpg", "convert {in} -strip -interlace Plane {out}"},
        {"cmyk.jpg", "convert {in} -strip -colorspace CMYK {out}"},
        {"interlaced.png", "convert {in} -strip -interlace PNG {out}"},
        {"tiled.tif", "convert {in} -define tiff:tile-geometry=16x16 -compress Zip {out}"},
        {"separate.tif", "convert {in} -compress None {out}.src.tif && tiffcp -p separate -c lzw "
                         "{out}.src.tif {out}"},
        {"g4.tif", "convert {in} -type Bilevel -compress Group4 {out}"},
        {"rle8.bmp", "convert {in} -colors 40 -type Palette -compress RLE BMP3:{out}"},
    };
    for (const auto& [name, command] : made) {
        const fs::path file = folder / (std::string("made-") + name);
        std::string line = command;
        for (std::size_t at; (at = line.find("{in}")) != std::string::npos;)
            line.replace(at, 4, Quoted(source));
        for (std::size_t at; (at = line.find("{out}")) != std::string::npos;)
            line.replace(at, 5, Quoted(file));
        RunTool(line);
        samples.push_back({name, Bytes(readFile(file))});
    }
    for (const Sample& sample : samples) {
        const ImageReadResult result = ReadBytes(sample.bytes);
        EXPECT_TRUE(result.ok()) << sample.name << ": " << result.error;
    }
    return samples;
}

TEST_F(BadImages, MissingOrUnusableFiles)
{
    const fs::path folder = home.work();
    writeFile(folder / "empty.tif", "");
    fs::create_directories(folder / "folder.tif");
    ASSERT_EQ(::mkfifo((folder / "fifo.tif").c_str(), 0600), 0);

    struct Case {
        const char* name;
        const char* expected; // part of the message
    };
    const Case cases[] = {
        {"missing.tif", "No such file"},
        {"empty.tif", "empty"},
        {"folder.tif", "not a regular file"},
        {"fifo.tif", "not a regular file"}, // and does not wait for a writer
    };
    for (const Case& c : cases) {
        const std::string path = (folder / c.name).string();
        const ImageReadResult result = ReadImageFile(path);
        EXPECT_FALSE(result.ok()) << c.name;
        EXPECT_TRUE(result.bitmap.isEmpty()) << c.name;
        EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
        EXPECT_NE(result.error.find(c.expected), std::string::npos) << result.error;
    }
}

TEST_F(BadImages, GarbageWithAKnownExtension)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> garbage(5000);
    for (auto& byte : garbage)
        byte = static_cast<std::uint8_t>(random());
    garbage[0] = 'X'; // no format's signature
    for (const char* name : {"a.tif", "a.jpg", "a.png", "a.gif", "a.bmp", "a.xyz", "a"}) {
        const fs::path file = home.work() / name;
        writeFile(file, std::string(garbage.begin(), garbage.end()));
        const ImageReadResult result = ReadImageFile(file.string());
        EXPECT_FALSE(result.ok()) << name;
        EXPECT_NE(result.error.find("Not an image file"), std::string::npos) << result.error;
    }
}

TEST_F(BadImages, ContentWinsOverAWrongExtension)
{
    const std::vector<Sample> samples = MakeSamples(home.work());
    for (const Sample& sample : samples) {
        const ImageFormat actual = ReadBytes(sample.bytes).format;
        for (const char* extension : {"tif", "jpg", "png", "gif", "bmp", "dat"}) {
            const fs::path file = home.work() / "renamed" / (std::string("a.") + extension);
            writeFile(file, std::string(sample.bytes.begin(), sample.bytes.end()));
            const ImageReadResult result = ReadImageFile(file.string());
            EXPECT_TRUE(result.ok()) << sample.name << " as ." << extension << ": " << result.error;
            EXPECT_EQ(result.format, actual) << sample.name << " as ." << extension;
        }
    }
}

TEST_F(BadImages, TruncatedFiles)
{
    for (const Sample& sample : MakeSamples(home.work())) {
        const std::size_t size = sample.bytes.size();
        for (const std::size_t keep :
             {std::size_t{3}, std::size_t{16}, size / 3, size * 2 / 3, size - 20}) {
            const std::vector<std::uint8_t> cut(
                sample.bytes.begin(), sample.bytes.begin() + static_cast<std::ptrdiff_t>(keep));
            const ImageReadResult result = ReadBytes(cut);
            EXPECT_FALSE(result.ok()) << sample.name << " cut to " << keep << " of " << size;
            EXPECT_FALSE(result.error.empty());
        }
    }
}

TEST_F(BadImages, DamagedBytesNeverCrash)
{
    // A small deterministic fuzz run over every layout (the libFuzzer target goes much further).
    std::mt19937 random(2024);
    ImageReadOptions options;
    options.maxBytes = 16 << 20;
    int failures = 0, reads = 0;
    for (const Sample& sample : MakeSamples(home.work())) {
        for (int round = 0; round < 150; ++round) {
            std::vector<std::uint8_t> bytes = sample.bytes;
            const int changes = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < changes; ++i)
                bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
            const ImageReadResult result = ReadImageData(bytes, ImageFormat::Unknown, options);
            if (result.ok()) {
                ++reads;
                EXPECT_FALSE(result.bitmap.isEmpty()) << sample.name;
                EXPECT_LE(result.bitmap.sizeBytes(), options.maxBytes) << sample.name;
            } else {
                ++failures;
                EXPECT_FALSE(result.error.empty()) << sample.name;
            }
        }
    }
    // Both outcomes occur, so the damage reached the decoders.
    EXPECT_GT(failures, 0);
    EXPECT_GT(reads, 0);
}

// Little-endian helpers for building headers by hand.
void Put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 3; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = 0xffffffff;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PngChunk(std::vector<std::uint8_t>& out, const char* type,
              const std::vector<std::uint8_t>& data)
{
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian(out, Crc32(out.data() + start, out.size() - start));
}

std::vector<std::uint8_t> HugePng(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header.insert(header.end(), {8, 0, 0, 0, 0}); // 8-bit grey
    PngChunk(out, "IHDR", header);
    PngChunk(out, "IDAT", {0x78, 0x9c, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
    PngChunk(out, "IEND", {});
    return out;
}

std::vector<std::uint8_t> HugeBmp(std::int32_t width, std::int32_t height, int bits,
                                  std::uint32_t compression, std::vector<std::uint8_t> pixels)
{
    const std::uint32_t paletteBytes = bits <= 8 ? 4u << bits : 0;
    std::vector<std::uint8_t> out = {'B', 'M'};
    Put(out, static_cast<std::uint32_t>(54 + paletteBytes + pixels.size()), 4);
    Put(out, 0, 4);
    Put(out, 54 + paletteBytes, 4);
    Put(out, 40, 4);
    Put(out, static_cast<std::uint32_t>(width), 4);
    Put(out, static_cast<std::uint32_t>(height), 4);
    Put(out, 1, 2);
    Put(out, static_cast<std::uint32_t>(bits), 2);
    Put(out, compression, 4);
    for (int i = 0; i < 5; ++i)
        Put(out, 0, 4);
    out.resize(out.size() + paletteBytes, 0);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

std::vector<std::uint8_t> HugeGif(std::uint16_t width, std::uint16_t height)
{
    std::vector<std::uint8_t> out = Bytes("GIF89a");
    Put(out, width, 2);
    Put(out, height, 2);
    out.insert(out.end(), {0x80, 0, 0}); // a global map of 2 colours
    out.insert(out.end(), {0, 0, 0, 255, 255, 255});
    out.push_back(',');
    Put(out, 0, 2);
    Put(out, 0, 2);
    Put(out, width, 2);
    Put(out, height, 2);
    out.insert(out.end(), {0, 2, 2, 0x4c, 0x01, 0, ';'});
    return out;
}

// A TIFF of one strip whose size fields claim far more pixels than the file holds.
std::vector<std::uint8_t> HugeTiff(std::uint32_t width, std::uint32_t height,
                                   std::uint16_t compression)
{
    std::vector<std::uint8_t> out = {'I', 'I', 42, 0};
    Put(out, 8, 4);
    const std::array<std::array<std::uint32_t, 3>, 9> entries = {{
        {256, 4, width},       // ImageWidth, LONG
        {257, 4, height},      // ImageLength
        {258, 3, 8},           // BitsPerSample, SHORT
        {259, 3, compression}, // Compression
        {262, 3, 1},           // Photometric: black is zero
        {273, 4, 200},         // StripOffsets
        {277, 3, 1},           // SamplesPerPixel
        {278, 4, height},      // RowsPerStrip
        {279, 4, 64},          // StripByteCounts
    }};
    Put(out, entries.size(), 2);
    for (const auto& [tag, type, value] : entries) {
        Put(out, tag, 2);
        Put(out, type, 2);
        Put(out, 1, 4);
        Put(out, value, 4);
    }
    Put(out, 0, 4);
    out.resize(264, 0x80);
    return out;
}

long PeakMemoryKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(BadImages, HostileSizesAreRefusedWithoutTakingTheMemory)
{
    // Each claims a picture of about 225 MB (within the limit) or far more, in a few bytes.
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* expected;
    };
    const std::vector<std::uint8_t> shortRuns = {10, 1, 0, 0, 10, 1, 0, 0};
    const Case cases[] = {
        {"BMP", HugeBmp(15000, 15000, 8, 0, std::vector<std::uint8_t>(100)), "too short"},
        {"BMP top down", HugeBmp(8000, -9000, 24, 0, std::vector<std::uint8_t>(100)), "too short"},
        {"BMP RLE8", HugeBmp(15000, 15000, 8, 1, shortRuns), "ends early"},
        {"BMP RLE4", HugeBmp(15000, 15000, 4, 2, shortRuns), "ends early"},
        {"BMP beyond the limit", HugeBmp(100000, 100000, 24, 0, std::vector<std::uint8_t>(100)),
         "too large"},
        {"BMP negative width", HugeBmp(-5, 5, 24, 0, std::vector<std::uint8_t>(100)),
         "bad image size"},
        {"PNG", HugePng(15000, 15000), "too short"},
        {"PNG beyond the limit", HugePng(1000000, 1000000), "Damaged PNG"},
        {"GIF", HugeGif(15000, 15000), "too short"},
        {"TIFF uncompressed", HugeTiff(15000, 15000, 1), "too short"},
        {"TIFF PackBits", HugeTiff(15000, 15000, 32773), "too short"},
        {"TIFF LZW", HugeTiff(15000, 15000, 5), "too short"},
        {"TIFF Deflate", HugeTiff(15000, 15000, 8), "too short"},
        {"TIFF beyond the limit", HugeTiff(200000, 200000, 1), "too large"},
    };
    const long before = PeakMemoryKilobytes();
    for (const Case& c : cases) {
        const ImageReadResult result = ReadBytes(c.bytes);
        EXPECT_FALSE(result.ok()) << c.name;
        EXPECT_NE(result.error.find(c.expected), std::string::npos)
            << c.name << ": " << result.error;
    }
    EXPECT_LT(PeakMemoryKilobytes() - before, 64 * 1024);
}

// Where each scan of a JPEG file starts and ends (from its SOS marker to the next marker that is
// not part of the entropy-coded data).
std::vector<std::pair<std::size_t, std::size_t>> JpegScans(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<std::pair<std::size_t, std::size_t>> scans;
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xff && jpeg[i + 1] != 0xd9) {
        const std::size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
        std::size_t end = i + 2 + length;
        if (jpeg[i + 1] == 0xda) {
            while (end + 1 < jpeg.size() && !(jpeg[end] == 0xff && jpeg[end + 1] != 0 &&
                                              (jpeg[end + 1] < 0xd0 || jpeg[end + 1] > 0xd7)))
                ++end;
            scans.emplace_back(i, end);
        }
        i = end;
    }
    return scans;
}

TEST_F(BadImages, JpegWithThousandsOfScans)
{
    // Each repeated scan would cost a pass over every coefficient.
    const fs::path source = home.work() / "pattern.ppm";
    const fs::path file = home.work() / "progressive.jpg";
    WriteNetpbm(MakePattern(PatternKind::Rgb, 64, 48), source);
    RunTool("convert " + Quoted(source) + " -strip -interlace Plane " + Quoted(file));
    const std::vector<std::uint8_t> jpeg = Bytes(readFile(file));
    const auto scans = JpegScans(jpeg);
    ASSERT_GT(scans.size(), 2u);
    const auto [start, end] = scans.back();

    auto repeated = [&](int times) {
        std::vector<std::uint8_t> bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(end));
        for (int i = 0; i < times; ++i)
            bytes.insert(bytes.end(), jpeg.begin() + static_cast<long>(start),
                         jpeg.begin() + static_cast<long>(end));
        bytes.insert(bytes.end(), jpeg.begin() + static_cast<long>(end), jpeg.end());
        return bytes;
    };
    EXPECT_TRUE(ReadBytes(repeated(100)).ok()); // odd but readable
    const ImageReadResult result = ReadBytes(repeated(2000));
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find("scans"), std::string::npos) << result.error;
}

TEST_F(BadImages, LimitOnPixelMemoryHolds)
{
    // A valid file whose pixels need more than the caller allows.
    const fs::path file = home.work() / "big.png";
    ASSERT_TRUE(WriteImageFile(MakePattern(PatternKind::Rgb, 300, 200), file.string()).ok());
    ImageReadOptions options;
    options.maxBytes = 300 * 200 * 3 - 1;
    EXPECT_FALSE(ReadImageFile(file.string(), options).ok());
    options.maxBytes = 300 * 200 * 3;
    EXPECT_TRUE(ReadImageFile(file.string(), options).ok());
}

} // namespace
} // namespace pagewren::test
