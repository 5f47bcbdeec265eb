// The library as the program uses it: through the three exported calls of libleafpress.so, with
// what it writes checked by qpdf and poppler.
#include "leafpress/leafpress.h"

#include "JpegFixtures.h"
#include "PdfProbe.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;

// The message buffer as the program passes it (300 blanks) followed by a guard zone that must
// stay untouched.
struct MessageBuffer {
    static constexpr std::size_t size = 300;
    std::array<char, size + 100> bytes;

    MessageBuffer()
    {
        std::fill(bytes.begin(), bytes.begin() + size, ' ');
        std::fill(bytes.begin() + size, bytes.end(), '#');
    }
    char* data() { return bytes.data(); }
    bool terminated() const { return std::memchr(bytes.data(), 0, size) != nullptr; }
    std::string text() const { return std::string(bytes.data(), ::strnlen(bytes.data(), size)); }
    bool guardIntact() const
    {
        return std::all_of(bytes.begin() + size, bytes.end(), [](char c) { return c == '#'; });
    }
};

struct Result {
    int code = -1;
    std::string message;
};

// Every file below a folder, as paths relative to it.
std::set<std::string> listing(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

class LeafpressTest : public HomeTest {
protected:
    void SetUp() override
    {
        // The library's state lasts as long as the process: begin with an empty document and
        // the program's resolution whatever an earlier test left.
        MessageBuffer ignored;
        LPRS_MakePDF(nullptr, 0, ignored.data(), 4);
        ASSERT_EQ(LPRS_SetDPI(300), LPRS_OK);
    }

    static void add(const fs::path& image) { EXPECT_EQ(LPRS_AddImage(image.c_str()), LPRS_OK); }

    // LPRS_MakePDF as the program calls it, checking the buffer's limits on the way.
    static Result make(const char* pdf)
    {
        MessageBuffer buffer;
        Result result;
        result.code = LPRS_MakePDF(pdf, 0, buffer.data(), 4);
        EXPECT_TRUE(buffer.guardIntact()) << "written past the 300-byte buffer";
        if (result.code != LPRS_OK) {
            EXPECT_TRUE(buffer.terminated()) << "message without its NUL";
            result.message = buffer.text();
        }
        return result;
    }
    static Result make(const fs::path& pdf) { return make(pdf.c_str()); }
};

TEST_F(LeafpressTest, WritesEveryImageAsAPageInTheOrderAdded)
{
    struct Input {
        JpegKind kind;
        int width, height;
        const char* colour;
        int components;
    };
    const Input inputs[] = {
        {JpegKind::Cmyk, 40, 60, "cmyk", 4}, {JpegKind::Rgb, 64, 48, "rgb", 3},
        {JpegKind::Grey, 33, 17, "gray", 1}, {JpegKind::Progressive, 50, 52, "rgb", 3},
        {JpegKind::Rgb, 64, 48, "rgb", 3}, // the same size again: order must come from the calls
    };
    std::vector<fs::path> images;
    for (const Input& input : inputs) {
        // Relative names: the library must work from the current folder too.
        images.push_back("page " + std::to_string(images.size() + 1) + ".jpg");
        makeJpeg(images.back(), input.kind, input.width, input.height);
        add(images.back());
    }
    const fs::path pdf = "scan é.pdf";
    const Result result = make(pdf);
    ASSERT_EQ(result.code, LPRS_OK) << result.message;

    std::string report;
    EXPECT_TRUE(qpdfCheck(pdf, &report)) << report;
    const std::vector<PageSize> sizes = pageSizes(pdf);
    const std::vector<ListedImage> listed = listImages(pdf);
    const std::vector<std::string> embedded = extractJpegs(pdf, "extracted");
    ASSERT_EQ(sizes.size(), std::size(inputs));
    ASSERT_EQ(listed.size(), std::size(inputs));
    ASSERT_EQ(embedded.size(), std::size(inputs));
    for (std::size_t i = 0; i < std::size(inputs); ++i) {
        SCOPED_TRACE(images[i]);
        EXPECT_NEAR(sizes[i].width, inputs[i].width * 72.0 / 300, 0.01);
        EXPECT_NEAR(sizes[i].height, inputs[i].height * 72.0 / 300, 0.01);
        EXPECT_EQ(listed[i].page, static_cast<int>(i + 1));
        EXPECT_EQ(listed[i].width, inputs[i].width);
        EXPECT_EQ(listed[i].height, inputs[i].height);
        EXPECT_EQ(listed[i].colour, inputs[i].colour);
        EXPECT_EQ(listed[i].components, inputs[i].components);
        EXPECT_EQ(listed[i].encoding, "jpeg");
        EXPECT_TRUE(embedded[i] == readFile(images[i])) << "embedded stream differs from the file";
    }
}

TEST_F(LeafpressTest, PageSizeIsTheImageSizeAtTheResolutionSet)
{
    struct Case {
        int width, height, dpi;
        double points[2];
    };
    const Case cases[] = {
        {2550, 3300, 300, {612, 792}}, // a letter page from the scanner
        {200, 100, 72, {200, 100}},     {150, 75, 100, {108, 54}},
        {1000, 333, 96, {750, 249.75}}, {3, 2, 1, {216, 144}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " +
                     std::to_string(c.dpi));
        const fs::path image = "image-" + std::to_string(c.dpi) + ".jpg";
        const fs::path pdf = "page-" + std::to_string(c.dpi) + ".pdf";
        makeJpeg(image, JpegKind::Rgb, c.width, c.height);
        ASSERT_EQ(LPRS_SetDPI(c.dpi), LPRS_OK);
        add(image);
        const Result result = make(pdf);
        ASSERT_EQ(result.code, LPRS_OK) << result.message;
        const std::vector<PageSize> sizes = pageSizes(pdf);
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_NEAR(sizes[0].width, c.points[0], 0.001);
        EXPECT_NEAR(sizes[0].height, c.points[1], 0.001);
        const std::vector<ListedImage> listed = listImages(pdf);
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].xPpi, c.dpi);
        EXPECT_EQ(listed[0].yPpi, c.dpi);
    }
}

// Poppler's rendering of each page against ImageMagick's decoding of the JPEG file, channel by
// channel: bright or dark. The two convert CMYK differently (poppler's blue is a dull 46,49,145),
// but a CMYK page shown without its inversion comes out as a negative and fails on every quadrant.
TEST_F(LeafpressTest, PagesShowTheColoursOfTheirImages)
{
    const JpegKind kinds[] = {JpegKind::Grey, JpegKind::Rgb, JpegKind::Cmyk, JpegKind::Progressive};
    for (JpegKind kind : kinds) {
        const fs::path image = std::string(kindName(kind)) + ".jpg";
        makeJpeg(image, kind, 64, 48);
        add(image);
    }
    const fs::path pdf = "colours.pdf";
    const Result result = make(pdf);
    ASSERT_EQ(result.code, LPRS_OK) << result.message;

    int page = 0;
    for (JpegKind kind : kinds) {
        SCOPED_TRACE(kindName(kind));
        const Raster rendered = renderPage(pdf, ++page, 300);
        const Raster expected = decodeImage(std::string(kindName(kind)) + ".jpg");
        ASSERT_EQ(rendered.width, expected.width);
        ASSERT_EQ(rendered.height, expected.height);
        for (const auto& [x, y] : {std::pair{16, 12}, {48, 12}, {16, 36}, {48, 36}}) {
            const Raster::Pixel got = rendered.at(x, y);
            const Raster::Pixel want = expected.at(x, y);
            const auto bright = [](const Raster::Pixel& p) {
                return std::array{p.r >= 128, p.g >= 128, p.b >= 128};
            };
            EXPECT_EQ(bright(got), bright(want))
                << "at " << x << "," << y << ": rendered " << got.r << "," << got.g << "," << got.b
                << ", decoded " << want.r << "," << want.g << "," << want.b;
        }
    }
}

// Each failure: its code, its message, and nothing left behind: no partial or temporary file,
// and the PDF that was already there unchanged.
TEST_F(LeafpressTest, FailuresReportTheirCodeAndLeaveNoTrace)
{
    const fs::path work = fs::current_path();
    const auto good = [](const std::string& name) {
        makeJpeg(name, JpegKind::Rgb, 64, 48);
        add(name);
    };
    const auto mutated = [](const std::string& name, auto change) {
        makeJpeg(name, JpegKind::Rgb, 64, 48);
        auto bytes = readBytes(name);
        change(bytes);
        writeBytes(name, bytes);
        add(name);
    };
    using Setup = std::function<std::optional<fs::path>()>;
    struct Case {
        const char* name;
        Setup setup; // adds images and returns the PDF path (nullopt: a null pointer)
        int code;
        std::string message;
    };
    const fs::path out = "out.pdf";
    const Case cases[] = {
        {"no images", [&] { return out; }, LPRS_IMAGE_FAILED, "no pages"},
        {"missing image",
         [&] {
             good("a.jpg");
             add("absent.jpg");
             good("c.jpg");
             return out;
         },
         LPRS_IMAGE_FAILED, "absent.jpg: the image file does not exist"},
        {"empty file",
         [&] {
             writeFile("empty.jpg", "");
             add("empty.jpg");
             return out;
         },
         LPRS_IMAGE_FAILED, "empty.jpg: the file is empty"},
        {"PNG file",
         [&] {
             runCommand("convert -size 8x8 xc:red png:picture.jpg");
             add("picture.jpg");
             return out;
         },
         LPRS_IMAGE_FAILED, "picture.jpg: not a JPEG image"},
        {"folder",
         [&] {
             fs::create_directory("folder.jpg");
             add("folder.jpg");
             return out;
         },
         LPRS_IMAGE_FAILED, "folder.jpg: not a regular file"},
        {"cut inside the headers",
         [&] {
             mutated("cut.jpg", [](auto& b) { b.resize(findMarker(b, 0xDA) - 10); });
             return out;
         },
         LPRS_IMAGE_FAILED, "cut.jpg: the JPEG image is truncated"},
        {"cut inside the image data, after good pages",
         [&] {
             good("a.jpg");
             good("b.jpg");
             mutated("cut.jpg", [](auto& b) { b.resize(b.size() - 40); });
             good("d.jpg");
             return out;
         },
         LPRS_IMAGE_FAILED, "cut.jpg: the JPEG image is truncated"},
        {"end marker missing",
         [&] {
             good("a.jpg");
             mutated("cut.jpg", [](auto& b) { b.resize(b.size() - 2); });
             return out;
         },
         LPRS_IMAGE_FAILED, "cut.jpg: the JPEG image is truncated"},
        {"lossless JPEG",
         [&] {
             mutated("lossless.jpg", [](auto& b) { b[findMarker(b, 0xC0) + 1] = 0xC3; });
             return out;
         },
         LPRS_IMAGE_FAILED, "lossless.jpg: unsupported JPEG image (lossless coding)"},
        {"resolution 0",
         [&] {
             EXPECT_EQ(LPRS_SetDPI(0), LPRS_INVALID_PARAMETER);
             good("a.jpg");
             return out;
         },
         LPRS_INVALID_PARAMETER, "resolution of 0 dpi"},
        {"negative resolution",
         [&] {
             EXPECT_EQ(LPRS_SetDPI(-300), LPRS_INVALID_PARAMETER);
             good("a.jpg");
             return out;
         },
         LPRS_INVALID_PARAMETER, "resolution of -300 dpi"},
        {"null image path",
         [&] {
             good("a.jpg");
             EXPECT_EQ(LPRS_AddImage(nullptr), LPRS_INVALID_PARAMETER);
             return out;
         },
         LPRS_INVALID_PARAMETER, "an image was added without a path"},
        {"empty image path",
         [&] {
             EXPECT_EQ(LPRS_AddImage(""), LPRS_INVALID_PARAMETER);
             good("a.jpg");
             return out;
         },
         LPRS_INVALID_PARAMETER, "an image was added without a path"},
        {"null PDF path",
         [&] {
             good("a.jpg");
             return std::nullopt;
         },
         LPRS_INVALID_PARAMETER, "Invalid parameter: no path for the PDF"},
        {"PDF folder missing",
         [&] {
             good("a.jpg");
             return fs::path("missing/out.pdf");
         },
         LPRS_OUTPUT_FAILED, "Cannot create the PDF missing/out.pdf: No such file or directory"},
        {"long PDF path in a missing folder",
         [&] {
             good("a.jpg");
             return fs::path("missing") / std::string(250, 'f') / (std::string(200, 'n') + ".pdf");
         },
         LPRS_OUTPUT_FAILED, "nnnnnnnnnn.pdf: No such file or directory"},
        {"PDF path is a folder",
         [&] {
             good("a.jpg");
             fs::create_directory("folder.pdf");
             return fs::path("folder.pdf");
         },
         LPRS_OUTPUT_FAILED, "Cannot create the PDF folder.pdf: Is a directory"},
        {"PDF path below a file",
         [&] {
             good("a.jpg");
             return out / "inner.pdf";
         },
         LPRS_OUTPUT_FAILED, "Cannot create the PDF out.pdf/inner.pdf: Not a directory"},
        {"empty PDF path",
         [&] {
             good("a.jpg");
             return fs::path();
         },
         LPRS_OUTPUT_FAILED, "Cannot create the PDF : No such file or directory"},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        // A folder of its own per case, holding a PDF from an earlier job.
        const fs::path folder = work / ("case" + std::to_string(++round));
        fs::create_directory(folder);
        fs::current_path(folder);
        writeFile(out, "an earlier PDF");
        const std::optional<fs::path> pdf = c.setup();
        const std::set<std::string> before = listing(folder);

        const Result result = pdf ? make(*pdf) : make(static_cast<const char*>(nullptr));
        EXPECT_EQ(result.code, c.code);
        EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
        EXPECT_EQ(listing(folder), before);
        EXPECT_EQ(readFile(out), "an earlier PDF");
    }
    fs::current_path(work);
}

TEST_F(LeafpressTest, SuccessReplacesAnEarlierPdfAndLeavesNothingElse)
{
    makeJpeg("a.jpg", JpegKind::Rgb);
    writeFile("out.pdf", "an earlier PDF");
    const std::set<std::string> before = listing(".");
    add("a.jpg");
    const Result result = make(fs::path("out.pdf"));
    ASSERT_EQ(result.code, LPRS_OK) << result.message;
    EXPECT_EQ(listing("."), before);
    std::string report;
    EXPECT_TRUE(qpdfCheck("out.pdf", &report)) << report;
    EXPECT_EQ(pageSizes("out.pdf").size(), 1u);
}

TEST_F(LeafpressTest, WritesAPdfWithTheLongestNameTheFileSystemAllows)
{
    makeJpeg("a.jpg", JpegKind::Rgb);
    const std::string name = std::string(251, 'n') + ".pdf"; // 255 bytes
    add("a.jpg");
    const Result result = make(fs::path(name));
    ASSERT_EQ(result.code, LPRS_OK) << result.message;
    EXPECT_EQ(listing("."), (std::set<std::string>{"a.jpg", name}));
}

// Whatever the first MakePDF did, the next one holds only the images added after it.
TEST_F(LeafpressTest, EveryMakeStartsTheNextDocumentEmpty)
{
    makeJpeg("first.jpg", JpegKind::Rgb, 64, 48);
    makeJpeg("second.jpg", JpegKind::Grey, 30, 20);
    makeJpeg("third.jpg", JpegKind::Cmyk, 20, 30);
    struct Case {
        const char* name;
        std::function<int()> firstJob;
        int code;
    };
    const Case cases[] = {
        {"success",
         [] {
             add("first.jpg");
             add("second.jpg");
             return make(fs::path("one.pdf")).code;
         },
         LPRS_OK},
        {"image failure",
         [] {
             add("first.jpg");
             add("absent.jpg");
             return make(fs::path("one.pdf")).code;
         },
         LPRS_IMAGE_FAILED},
        {"output failure",
         [] {
             add("first.jpg");
             return make(fs::path("missing/one.pdf")).code;
         },
         LPRS_OUTPUT_FAILED},
        {"null image path",
         [] {
             add("first.jpg");
             LPRS_AddImage(nullptr);
             return make(fs::path("one.pdf")).code;
         },
         LPRS_INVALID_PARAMETER},
        {"no message buffer",
         [] {
             add("first.jpg");
             return LPRS_MakePDF("one.pdf", 0, nullptr, 4);
         },
         LPRS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        EXPECT_EQ(c.firstJob(), c.code);
        add("third.jpg");
        const Result result = make(fs::path("two.pdf"));
        ASSERT_EQ(result.code, LPRS_OK) << result.message;
        const std::vector<std::string> embedded = extractJpegs("two.pdf", c.name);
        ASSERT_EQ(embedded.size(), 1u);
        EXPECT_TRUE(embedded[0] == readFile("third.jpg"));
    }
}

TEST_F(LeafpressTest, ResolutionStaysUntilSetAgain)
{
    makeJpeg("a.jpg", JpegKind::Rgb, 64, 48);
    const auto ppiOf = [](const char* pdf) {
        add("a.jpg");
        const Result result = make(fs::path(pdf));
        EXPECT_EQ(result.code, LPRS_OK) << result.message;
        const std::vector<ListedImage> listed = listImages(pdf);
        return listed.empty() ? 0 : listed[0].xPpi;
    };
    ASSERT_EQ(LPRS_SetDPI(150), LPRS_OK);
    EXPECT_EQ(ppiOf("one.pdf"), 150);
    EXPECT_EQ(ppiOf("two.pdf"), 150);

    // A refused resolution is not replaced by an old one behind the caller's back.
    EXPECT_EQ(LPRS_SetDPI(0), LPRS_INVALID_PARAMETER);
    for (int attempt = 0; attempt < 2; ++attempt) {
        add("a.jpg");
        EXPECT_EQ(make(fs::path("three.pdf")).code, LPRS_INVALID_PARAMETER);
    }
    EXPECT_FALSE(fs::exists("three.pdf"));
    ASSERT_EQ(LPRS_SetDPI(72), LPRS_OK);
    EXPECT_EQ(ppiOf("four.pdf"), 72);
}

TEST_F(LeafpressTest, LongImagePathIsShortenedInTheMiddle)
{
    const fs::path missing = fs::current_path() / std::string(200, 'd') / std::string(200, 'e') /
                             "img_002_COMPRESSED.JPG";
    add(missing);
    const Result result = make(fs::path("out.pdf"));
    ASSERT_EQ(result.code, LPRS_IMAGE_FAILED);
    EXPECT_LE(result.message.size(), 299u);
    const std::string ending = "img_002_COMPRESSED.JPG: the image file does not exist";
    ASSERT_GE(result.message.size(), ending.size());
    EXPECT_EQ(result.message.substr(result.message.size() - ending.size()), ending);
    EXPECT_EQ(result.message.substr(0, 20), missing.string().substr(0, 20));
    EXPECT_NE(result.message.find("..."), std::string::npos);
}

TEST_F(LeafpressTest, ExportsOnlyTheThreeCalls)
{
    std::string output;
    ASSERT_EQ(runCommand("nm -D --defined-only '" LEAFPRESS_LIBRARY "'", &output), 0) << output;
    std::istringstream lines(output);
    std::set<std::string> names;
    std::string address, type, name;
    while (lines >> address >> type >> name)
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"LPRS_AddImage", "LPRS_MakePDF", "LPRS_SetDPI"}));
}

} // namespace
} // namespace pagewren::test
