// Closing a job end to end: page TIFFs written by our own writer become JPEG copies, and the real
// libleafpress makes the PDF, which qpdf and poppler then inspect.

#include "image/LeafpressCalls.h"
#include "image/PdfAssembly.h"

#include "PageFixtures.h"
#include "PdfProbe.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;

struct Size {
    int width;
    int height;
};

class PdfAssemblyTest : public HomeTest {
protected:
    fs::path job() const { return home.work() / "20091023153005"; }

    // img_001.tif, img_002.tif, ... in the job folder, one per size.
    StringList makePages(const std::vector<Size>& sizes, const fs::path& folder)
    {
        fs::create_directories(folder);
        StringList pages;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const std::string number = std::to_string(i + 1);
            const fs::path page =
                folder / ("img_" + std::string(3 - number.size(), '0') + number + ".tif");
            MakePage(page, sizes[i].width, sizes[i].height);
            pages.push_back(page.string());
        }
        return pages;
    }
    StringList makePages(const std::vector<Size>& sizes) { return makePages(sizes, job()); }

    // The PDF holds exactly these copies, byte for byte and in this order, on pages of the
    // copies' size at 300 dpi.
    void expectPdfOf(const fs::path& pdf, const StringList& copies)
    {
        std::string report;
        EXPECT_TRUE(qpdfCheck(pdf, &report)) << report;
        const std::vector<std::string> embedded = extractJpegs(pdf, pdf.string() + ".images");
        ASSERT_EQ(embedded.size(), copies.size());
        const std::vector<PageSize> pages = pageSizes(pdf);
        const std::vector<ListedImage> images = listImages(pdf);
        ASSERT_EQ(pages.size(), copies.size());
        ASSERT_EQ(images.size(), copies.size());
        for (std::size_t i = 0; i < copies.size(); ++i) {
            SCOPED_TRACE("page " + std::to_string(i + 1));
            EXPECT_TRUE(embedded[i] == readFile(copies[i])) << "not the bytes of " << copies[i];
            const PictureFacts copy = Identify(copies[i]);
            EXPECT_EQ(images[i].page, static_cast<int>(i + 1));
            EXPECT_EQ(images[i].width, copy.width);
            EXPECT_EQ(images[i].xPpi, 300);
            EXPECT_EQ(images[i].yPpi, 300);
            EXPECT_NEAR(pages[i].width, copy.width * 72.0 / 300, 0.01);
            EXPECT_NEAR(pages[i].height, copy.height * 72.0 / 300, 0.01);
        }
    }
};

TEST_F(PdfAssemblyTest, ThreePagesBecomeCopiesAndPdfPagesInScanOrder)
{
    const StringList pages = makePages({{120, 90}, {90, 120}, {150, 60}});
    StringList copies{"left over from before"};

    EXPECT_EQ(CompressImages(pages, copies), 3);

    const StringList expected{(job() / "img_001_COMPRESSED.JPG").string(),
                              (job() / "img_002_COMPRESSED.JPG").string(),
                              (job() / "img_003_COMPRESSED.JPG").string()};
    ASSERT_EQ(copies, expected);
    const Size sizes[] = {{120, 90}, {90, 120}, {150, 60}};
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const PictureFacts copy = Identify(copies[i]);
        EXPECT_EQ(copy.format, "JPEG");
        EXPECT_EQ(copy.width, sizes[i].width) << copies[i];
        EXPECT_EQ(copy.height, sizes[i].height) << copies[i];
        EXPECT_EQ(copy.quality, 60) << copies[i];
    }

    const fs::path pdf = home.work() / "20091023153005.pdf";
    std::string error = "untouched";
    ASSERT_TRUE(CreatePDF(copies, pdf.string(), error)) << error;
    expectPdfOf(pdf, copies);
}

// A page that cannot be loaded gets no copy and no place in the list; the others keep their order.
struct UnreadablePage {
    const char* name;
    void (*make)(const fs::path& page);
};

void PrintTo(const UnreadablePage& page, std::ostream* out)
{
    *out << page.name;
}

const UnreadablePage kUnreadablePages[] = {
    {"Missing", [](const fs::path&) {}},
    {"NotAnImage", [](const fs::path& page) { writeFile(page, "scanner notes, not a picture"); }},
    {"Empty", [](const fs::path& page) { writeFile(page, ""); }},
    {"Folder", [](const fs::path& page) { fs::create_directories(page); }},
};

class UnreadablePageTest : public PdfAssemblyTest,
                           public ::testing::WithParamInterface<UnreadablePage> {};

TEST_P(UnreadablePageTest, IsSkippedAndTheOthersKeepTheirOrder)
{
    StringList pages = makePages({{60, 40}, {70, 40}, {80, 40}});
    fs::remove(pages[1]);
    GetParam().make(pages[1]);
    StringList copies;

    EXPECT_EQ(CompressImages(pages, copies), 2);

    EXPECT_EQ(copies, (StringList{(job() / "img_001_COMPRESSED.JPG").string(),
                                  (job() / "img_003_COMPRESSED.JPG").string()}));
    EXPECT_FALSE(fs::exists(job() / "img_002_COMPRESSED.JPG"));
    const fs::path pdf = home.work() / "job.pdf";
    std::string error;
    ASSERT_TRUE(CreatePDF(copies, pdf.string(), error)) << error;
    expectPdfOf(pdf, copies);
}

INSTANTIATE_TEST_SUITE_P(Pages, UnreadablePageTest, ::testing::ValuesIn(kUnreadablePages),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(PdfAssemblyTest, EmptyJobGivesNoCopiesAndTheLibrarysNoPagesMessage)
{
    fs::create_directories(job());
    StringList copies{"stale entry"};

    EXPECT_EQ(CompressImages({}, copies), 0);
    EXPECT_TRUE(copies.empty());

    const fs::path pdf = home.work() / "empty.pdf";
    std::string error;
    EXPECT_FALSE(CreatePDF(copies, pdf.string(), error));
    EXPECT_NE(error.find("no pages"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(pdf));
}

TEST_F(PdfAssemblyTest, CopyKeepsThePagesOwnResolutionWhileThePdfIsMadeAt300Dpi)
{
    const StringList pages = makePages({{200, 100}, {200, 100}});
    writeFile(job() / "img_002.INI", "[bitmap_ext]\ndpi_x=200\ndpi_y=200\n");
    StringList copies;
    ASSERT_EQ(CompressImages(pages, copies), 2);

    EXPECT_EQ(Identify(copies[0]).xDpi, 300);
    const PictureFacts second = Identify(copies[1]);
    EXPECT_EQ(second.xDpi, 200);
    EXPECT_EQ(second.yDpi, 200);

    const fs::path pdf = home.work() / "job.pdf";
    std::string error;
    ASSERT_TRUE(CreatePDF(copies, pdf.string(), error)) << error;
    expectPdfOf(pdf, copies); // both pages 48 x 24 points: 300 dpi, not 200
}

TEST_F(PdfAssemblyTest, SecondJobsPdfHoldsOnlyItsOwnPages)
{
    const StringList first = makePages({{60, 40}, {70, 40}, {80, 40}}, home.work() / "job1");
    const StringList second = makePages({{90, 50}, {100, 50}}, home.work() / "job2");
    StringList copies;
    std::string error;

    ASSERT_EQ(CompressImages(first, copies), 3);
    ASSERT_TRUE(CreatePDF(copies, (home.work() / "job1.pdf").string(), error)) << error;
    ASSERT_EQ(CompressImages(second, copies), 2);
    ASSERT_TRUE(CreatePDF(copies, (home.work() / "job2.pdf").string(), error)) << error;

    expectPdfOf(home.work() / "job2.pdf", copies);
}

// What the real library reports, turned into the texts the user sees.
struct RealFailure {
    const char* name;
    bool emptyCopy;      // a copy list entry without a path
    bool missingCopy;    // a listed copy that does not exist
    const char* pdfPath; // relative to the work folder
    const char* expectedText;
    const char* expectedPart; // when the text is the library's own message
};

void PrintTo(const RealFailure& failure, std::ostream* out)
{
    *out << failure.name;
}

const RealFailure kRealFailures[] = {
    {"CopyWithoutPath", true, false, "out.pdf", "invalid parameter", nullptr},
    {"FolderOfPdfMissing", false, false, "no/such/folder/out.pdf", "output pdf could not be opened",
     nullptr},
    {"PdfPathIsAFolder", false, false, ".", "output pdf could not be opened", nullptr},
    {"CopyMissing", false, true, "out.pdf", nullptr, "img_009_COMPRESSED.JPG"},
};

class RealFailureTest : public PdfAssemblyTest,
                        public ::testing::WithParamInterface<RealFailure> {};

TEST_P(RealFailureTest, BecomesTheTextOfItsCode)
{
    const RealFailure& failure = GetParam();
    StringList copies;
    ASSERT_EQ(CompressImages(makePages({{60, 40}, {70, 40}}), copies), 2);
    if (failure.emptyCopy)
        copies.insert(copies.begin() + 1, "");
    if (failure.missingCopy)
        copies.insert(copies.begin() + 1, (job() / "img_009_COMPRESSED.JPG").string());
    const fs::path pdf = home.work() / failure.pdfPath;

    std::string error;
    EXPECT_FALSE(CreatePDF(copies, pdf.string(), error));

    if (failure.expectedText) {
        EXPECT_EQ(error, failure.expectedText);
    } else {
        EXPECT_NE(error.find(failure.expectedPart), std::string::npos) << error;
        // The library's message alone: no NUL, no blanks of the buffer behind it.
        ASSERT_FALSE(error.empty());
        EXPECT_EQ(error.find('\0'), std::string::npos);
        EXPECT_GT(static_cast<unsigned char>(error.back()), ' ');
        EXPECT_LT(error.size(), 300u);
    }
    EXPECT_FALSE(fs::is_regular_file(pdf));

    // The failed job leaves nothing behind in the library: the next PDF holds only its own pages.
    copies.erase(std::remove_if(copies.begin(), copies.end(),
                                [](const std::string& copy) { return !fs::exists(copy); }),
                 copies.end());
    ASSERT_TRUE(CreatePDF(copies, (home.work() / "next.pdf").string(), error)) << error;
    expectPdfOf(home.work() / "next.pdf", copies);
}

INSTANTIATE_TEST_SUITE_P(Codes, RealFailureTest, ::testing::ValuesIn(kRealFailures),
                         [](const auto& row) { return std::string(row.param.name); });

// A stand-in for the library that records what it is given and answers with a chosen code and
// message, for results the real library never gives.
struct RecordingLibrary {
    static inline std::vector<std::string> calls;
    static inline std::string bufferOnEntry;
    static inline int code = 0;
    static inline std::string message; // written at the start of the buffer, NUL included
    static inline bool markLastByte = false;

    static int addImage(const char* path)
    {
        calls.push_back(std::string("AddImage ") + path);
        return 0;
    }
    static int setDpi(int dpi)
    {
        calls.push_back("SetDPI " + std::to_string(dpi));
        return 0;
    }
    static int makePdf(const char* path, int reserved1, char* buffer, int reserved2)
    {
        calls.push_back(std::string("MakePDF ") + path + " " + std::to_string(reserved1) + " " +
                        std::to_string(reserved2));
        bufferOnEntry.assign(buffer, 300);
        std::memcpy(buffer, message.data(), message.size());
        if (markLastByte)
            buffer[299] = '|'; // the last byte the library may write
        return code;
    }
    static constexpr LeafpressCalls kCalls{addImage, setDpi, makePdf};
};

struct CodeCase {
    const char* name;
    int code;
    std::string message; // what the library writes; empty: buffer left untouched
    bool markLastByte;
    bool success;
    // The expected error text; "<buffer>" for the buffer exactly as the library left it.
    std::string text;
};

void PrintTo(const CodeCase& codeCase, std::ostream* out)
{
    *out << codeCase.name;
}

const std::string kBuffer = "<buffer>";

const CodeCase kCodeCases[] = {
    {"SuccessKeepsTheBuffer", 0, std::string("done\0", 5), false, true, kBuffer},
    {"InvalidParameter", 1, std::string("lib text\0", 9), false, false, "invalid parameter"},
    {"OutputNotOpened", 2, std::string("lib text\0", 9), false, false,
     "output pdf could not be opened"},
    {"ImageMessageTrimmed", 3, std::string("Bad image a.jpg\0", 16), false, false,
     "Bad image a.jpg"},
    {"ImageMessageWithControlsAround", 3, std::string(" \t\r\nBad  image\r\n\0", 17), false, false,
     "Bad  image"},
    {"ImageMessageFillsTheBuffer", 3, std::string(299, 'x') + '\0', false, false,
     std::string(299, 'x')},
    {"ImageBufferUntouched", 3, "", false, false, ""},
    {"InternalError", 4, std::string("lib text\0", 9), false, false,
     "internal PDF generation error"},
    {"UnknownCodeKeepsTheWholeBuffer", 7, "", true, false, kBuffer},
    {"UnknownCodeWithMessage", 7, std::string("seven\0", 6), true, false, kBuffer},
    {"NegativeCode", -1, "", false, false, kBuffer},
};

class ResultCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ResultCodeTest, CallsTheLibraryInOrderAndMapsItsCode)
{
    const CodeCase& codeCase = GetParam();
    RecordingLibrary::calls.clear();
    RecordingLibrary::code = codeCase.code;
    RecordingLibrary::message = codeCase.message;
    RecordingLibrary::markLastByte = codeCase.markLastByte;

    std::string error = "untouched";
    EXPECT_EQ(
        CreatePDF({"/job/a.JPG", "/job/b.JPG"}, "/out/job.pdf", error, RecordingLibrary::kCalls),
        codeCase.success);

    EXPECT_EQ(RecordingLibrary::calls,
              (std::vector<std::string>{"AddImage /job/a.JPG", "AddImage /job/b.JPG", "SetDPI 300",
                                        "MakePDF /out/job.pdf 0 4"}));
    EXPECT_EQ(RecordingLibrary::bufferOnEntry, std::string(300, ' '));
    if (codeCase.text == kBuffer) {
        std::string buffer(300, ' ');
        buffer.replace(0, codeCase.message.size(), codeCase.message);
        if (codeCase.markLastByte)
            buffer[299] = '|';
        EXPECT_EQ(error, buffer);
    } else {
        EXPECT_EQ(error, codeCase.text);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, ResultCodeTest, ::testing::ValuesIn(kCodeCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ResultCodeEmptyList, MakesOnlyTheResolutionAndPdfCalls)
{
    RecordingLibrary::calls.clear();
    RecordingLibrary::code = 3;
    RecordingLibrary::message = std::string("no pages\0", 9);
    RecordingLibrary::markLastByte = false;
    std::string error;

    EXPECT_FALSE(CreatePDF({}, "/out/job.pdf", error, RecordingLibrary::kCalls));

    EXPECT_EQ(RecordingLibrary::calls,
              (std::vector<std::string>{"SetDPI 300", "MakePDF /out/job.pdf 0 4"}));
    EXPECT_EQ(error, "no pages");
}

} // namespace
} // namespace pagewren::test
