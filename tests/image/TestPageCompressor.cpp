// Converting pages on several threads gives what converting them one after the other gives: the
// same copies, the same list order, the same failure.

#include "image/DWImage.h"
#include "image/ImageFile.h"
#include "image/PageCompressor.h"
#include "image/PdfAssembly.h"

#include "ImageTestSupport.h"
#include "PageFixtures.h"
#include "TestHome.h"
#include "util/Error.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

namespace pagewren::test {
namespace {

namespace fs = std::filesystem;

class PageCompressorTest : public HomeTest {
protected:
    // Pages numbered from 0, page i being 40 + i pixels wide, so each copy shows its page.
    void makePages(int count)
    {
        for (int i = 0; i < count; ++i) {
            const fs::path page = home.work() / ("page" + std::to_string(i) + ".tif");
            MakePage(page, 40 + i, 30);
            pages.push_back(page.string());
            names.push_back((home.work() / ("copy" + std::to_string(i) + ".JPG")).string());
        }
    }

    StringList pages;
    StringList names;
};

class WorkerCountTest : public PageCompressorTest,
                        public ::testing::WithParamInterface<unsigned> {};

TEST_P(WorkerCountTest, ListsEveryCopyInPageOrderWithItsOwnPicture)
{
    makePages(9);
    fs::remove(pages[4]); // one page that cannot be loaded, in the middle of the work
    StringList copies{"already there"};

    EXPECT_EQ(PageCompressor(GetParam()).run(pages, names, copies), 8);

    StringList expected{"already there"};
    for (int i = 0; i < 9; ++i) {
        if (i != 4)
            expected.push_back(names[i]);
    }
    EXPECT_EQ(copies, expected);
    for (int i = 0; i < 9; ++i) {
        if (i != 4) {
            EXPECT_EQ(Identify(names[i]).width, 40 + i) << names[i];
        }
    }
    EXPECT_FALSE(fs::exists(names[4]));
}

// Fewer, as many as and more workers than a two-processor machine has, and more than pages.
INSTANTIATE_TEST_SUITE_P(Workers, WorkerCountTest, ::testing::Values(1u, 2u, 3u, 16u));

TEST_F(PageCompressorTest, CompressImagesUsesAllProcessorsWithPagesToSpare)
{
    const unsigned workers = PageCompressor::DefaultWorkers();
    ASSERT_GE(workers, 1u);
    makePages(static_cast<int>(workers) * 3 + 1);
    StringList copies;

    EXPECT_EQ(CompressImages(pages, copies), static_cast<int>(pages.size()));

    ASSERT_EQ(copies.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const fs::path page = pages[i];
        EXPECT_EQ(copies[i], (page.parent_path() / (page.stem().string() + "_COMPRESSED.JPG")));
        EXPECT_EQ(Identify(copies[i]).width, 40 + static_cast<int>(i));
    }
}

// Several pages fail while others are being converted, a later one first. Pages 0 and 3 share a
// copy name, so page 3 is converted by page 0's worker after page 5 has failed: it still is,
// being before page 5, and its failure is the one raised. Pages 0 to 2 are converted and listed;
// no page after the failures is started.
TEST_F(PageCompressorTest, FirstFailingPageInPageOrderIsRaised)
{
    makePages(8);
    names[3] = names[0];
    std::mutex mutex;
    std::condition_variable changed;
    bool page5Failed = false;
    bool page5FailedFirst = false;
    std::set<std::string> started;

    const PageCompressor compressor(
        2, [&](TDWImage& image, const std::string& page, const std::string& copy) {
            std::unique_lock lock(mutex);
            started.insert(page);
            if (page == pages[0]) {
                // Bounded so that a fault cannot hang the suite; the order is checked below.
                changed.wait_for(lock, std::chrono::seconds(10), [&] { return page5Failed; });
            } else if (page == pages[3]) {
                page5FailedFirst = page5Failed;
                throw Error("page 3 could not be converted");
            } else if (page == pages[5]) {
                page5Failed = true;
                changed.notify_all();
                throw Error("page 5 could not be converted");
            }
            lock.unlock();
            return PageCompressor::WriteJpegCopy(image, page, copy);
        });
    StringList copies;

    try {
        compressor.run(pages, names, copies);
        FAIL() << "no failure reached the caller";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "page 3 could not be converted");
    }

    EXPECT_TRUE(page5FailedFirst) << "page 5 had not failed when page 3 did";
    EXPECT_EQ(copies, (StringList{names[0], names[1], names[2]}));
    EXPECT_EQ(Identify(names[0]).width, 40); // page 0's picture: page 3 wrote nothing
    EXPECT_EQ(Identify(names[2]).width, 42);
    EXPECT_EQ(started.count(pages[6]) + started.count(pages[7]), 0u)
        << "a page after the failures was started";
}

TEST_F(PageCompressorTest, FailureOfTheOnlyWorkerStopsAtThatPage)
{
    makePages(4);
    std::atomic<int> calls{0};
    const PageCompressor compressor(
        1, [&](TDWImage& image, const std::string& page, const std::string& copy) {
            ++calls;
            if (page == pages[1])
                throw std::runtime_error("out of luck");
            return PageCompressor::WriteJpegCopy(image, page, copy);
        });
    StringList copies;

    EXPECT_THROW(compressor.run(pages, names, copies), std::runtime_error);
    EXPECT_EQ(copies, StringList{names[0]});
    EXPECT_EQ(calls.load(), 2);
}

// Two pages with one copy name: as one after the other, the later page's picture is the copy,
// and the name is listed for each. The earlier page is the larger, so converted at the same
// time it would finish last and win.
TEST_F(PageCompressorTest, PagesSharingACopyNameAreConvertedInPageOrder)
{
    const fs::path tiff = home.work() / "scan.tif";
    const fs::path png = home.work() / "scan.png";
    MakePage(tiff, 1600, 1600);
    ASSERT_TRUE(WriteImageFile(MakePattern(PatternKind::Rgb, 30, 20), png.string()).ok());
    const std::string copy = (home.work() / "scan_COMPRESSED.JPG").string();
    StringList copies;

    EXPECT_EQ(CompressImages({tiff.string(), png.string()}, copies), 2);

    EXPECT_EQ(copies, (StringList{copy, copy}));
    EXPECT_EQ(Identify(copy).width, 30);
}

// A page that is also an earlier page's copy is read as that copy once written, as one page after
// the other would have it. The earlier page is the larger, so converted at the same time the
// later one would read the file before its copy replaces it.
TEST_F(PageCompressorTest, PageThatIsAnEarlierPagesCopyIsReadAfterIt)
{
    const fs::path first = home.work() / "scan.tif";
    const fs::path second = home.work() / "scan_COMPRESSED.JPG";
    MakePage(first, 1600, 1600);
    ASSERT_TRUE(WriteImageFile(MakePattern(PatternKind::Rgb, 30, 20), second.string()).ok());
    StringList copies;

    EXPECT_EQ(CompressImages({first.string(), second.string()}, copies), 2);

    const fs::path secondCopy = home.work() / "scan_COMPRESSED_COMPRESSED.JPG";
    EXPECT_EQ(copies, (StringList{second.string(), secondCopy.string()}));
    EXPECT_EQ(Identify(secondCopy).width, 1600);
}

// A copy whose writing fails stays listed, so the PDF library reports it.
TEST_F(PageCompressorTest, CopyThatCannotBeWrittenIsListedForTheLibraryToReport)
{
    makePages(2);
    // A folder where the copy should go: the copy cannot take its name.
    fs::create_directories(names[1]);
    writeFile(fs::path(names[1]) / "keep.txt", "kept");
    StringList copies;

    EXPECT_EQ(PageCompressor(2).run(pages, names, copies), 2);

    EXPECT_EQ(copies, names);
    EXPECT_EQ(readFile(fs::path(names[1]) / "keep.txt"), "kept");
    std::string error;
    EXPECT_FALSE(CreatePDF(copies, (home.work() / "out.pdf").string(), error));
    EXPECT_NE(error.find("copy1.JPG"), std::string::npos) << error;
}

// Writes beyond a size limit fail for the time the object lives (the process gets EFBIG rather
// than a signal).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_active = false;
};

// An older file with the copy's name must not go into the PDF in place of the copy that could not
// be written.
TEST_F(PageCompressorTest, OlderFileOfACopyThatCannotBeWrittenIsRemoved)
{
    const fs::path page = home.work() / "img_001.tif";
    MakePage(page, 400, 300);
    const fs::path copy = home.work() / "img_001_COMPRESSED.JPG";
    RunTool("convert -size 40x30 xc:red " + Quoted(copy));
    ASSERT_LT(fs::file_size(copy), 4096u);
    StringList copies;
    {
        const FileSizeLimit limit(4096); // the new copy is larger
        ASSERT_TRUE(limit.active());
        EXPECT_EQ(CompressImages({page.string()}, copies), 1);
    }

    EXPECT_EQ(copies, StringList{copy.string()});
    EXPECT_FALSE(fs::exists(copy));
    std::string error;
    EXPECT_FALSE(CreatePDF(copies, (home.work() / "out.pdf").string(), error));
    EXPECT_NE(error.find("img_001_COMPRESSED.JPG"), std::string::npos) << error;
}

TEST(PageCompressorArguments, RefusesListsOfDifferentLengths)
{
    StringList copies;
    EXPECT_THROW(PageCompressor(2).run({"a.tif", "b.tif"}, {"a.JPG"}, copies),
                 std::invalid_argument);
    EXPECT_TRUE(copies.empty());
}

} // namespace
} // namespace pagewren::test
