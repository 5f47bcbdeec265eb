// Against the real SANE "test" backend, through a private configuration whose dll.conf lists
// only "test", so that no test depends on the machine's scanners.
#include "scan/SaneDriver.h"

#include "ScanTestSupport.h"
#include "TestHome.h"
#include "image/Bitmap.h"
#include "scan/TwainComponent.h"
#include "scan/TwainConstants.h"
#include "scan/VMKScan.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <thread>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using namespace twain;
using Texts = std::vector<std::string>;

const std::string kFirst = "Noname frontend-tester (test:0)";
const std::string kSecond = "Noname frontend-tester (test:1)";

bool contains(const Texts& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Every test names its SANE configuration itself rather than trusting the environment: the
// project's dll.conf, which lists only "test", and a test.conf of the test's choosing.
class SaneTest : public test::HomeTest {
protected:
    SaneTest()
    {
        // Kept loaded for the whole process, so the leak checker can still name the backend's
        // known leak (suppressed in the tests' main) after SANE has let go of it.
        static void* const backend = dlopen(PW_SANE_TEST_BACKEND, RTLD_NOW | RTLD_NODELETE);
        EXPECT_NE(backend, nullptr) << dlerror();
        useTestBackendWith("");
    }

    void useTestBackendWith(const std::string& testConf)
    {
        // The backend, kept loaded, remembers the configuration folder it first read for the
        // rest of the process; so all tests of a process share one folder in its temporary root.
        static const fs::path dir = home.root().parent_path() / "sane-config";
        fs::create_directories(dir);
        fs::copy_file(test::testDataDir() / "sane" / "dll.conf", dir / "dll.conf",
                      fs::copy_options::overwrite_existing);
        test::writeFile(dir / "test.conf", testConf);
        home.setVariable("SANE_CONFIG_DIR", dir.string());
    }
};

TEST_F(SaneTest, ListsEveryDeviceUnderANameOfItsOwn)
{
    TwainComponent twain(std::make_unique<SaneDriver>());
    std::vector<std::string> names;
    twain.GetSourceList(names);
    EXPECT_EQ(names, (Texts{kFirst, kSecond}));
}

class SaneDriverTest : public SaneTest {
protected:
    void open()
    {
        driver.openManager();
        driver.openSource(kFirst);
        ASSERT_EQ(driver.openSourceName(), kFirst);
    }

    SaneDriver driver;
};

TEST_F(SaneDriverTest, CapabilitiesMapOntoTheBackendsOptions)
{
    open();
    const auto supported = driver.supportedCapabilities();
    ASSERT_TRUE(supported);
    auto sorted = *supported;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::uint16_t>{ICAP_PIXELTYPE, CAP_FEEDERENABLED, CAP_AUTOFEED,
                                                  CAP_AUTOSCAN, ICAP_XRESOLUTION, ICAP_YRESOLUTION,
                                                  ICAP_BITDEPTH}));
    EXPECT_EQ(driver.readCapability(ICAP_PIXELTYPE), TWPT_GRAY);
    EXPECT_EQ(driver.readCapability(CAP_FEEDERENABLED), 0);
    EXPECT_EQ(driver.readCapability(CAP_PAPERDETECTABLE), std::nullopt);

    struct Case {
        std::uint16_t cap;
        double value;
        bool accepted;
        std::optional<double> after;
    };
    const Case cases[] = {
        {ICAP_PIXELTYPE, TWPT_RGB, true, TWPT_RGB},
        {ICAP_PIXELTYPE, TWPT_BW, false, TWPT_RGB}, // the backend offers no line art
        {ICAP_BITDEPTH, 16, true, 16},
        {ICAP_BITDEPTH, 8, true, 8},
        {ICAP_XRESOLUTION, 300, true, 300},
        {ICAP_YRESOLUTION, 150, true, 150}, // one "resolution" option for both
        {ICAP_XRESOLUTION, 150, true, 150},
        {CAP_FEEDERENABLED, 1, true, 1},
        {CAP_AUTOFEED, 1, true, 1},
        {CAP_FEEDERENABLED, 0, true, 0},
        {CAP_AUTOSCAN, 0, true, 0},
        {CAP_FEEDERLOADED, 1, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(capabilityName(c.cap) + " " + std::to_string(c.value));
        EXPECT_EQ(driver.writeCapability(c.cap, c.value), c.accepted);
        EXPECT_EQ(driver.readCapability(c.cap), c.after);
    }
}

TEST_F(SaneDriverTest, FlatbedGivesOnePagePerBatch)
{
    open();
    ASSERT_TRUE(driver.writeCapability(ICAP_PIXELTYPE, TWPT_RGB));
    ASSERT_TRUE(driver.writeCapability(ICAP_XRESOLUTION, 75));
    for (int batch = 0; batch < 2; ++batch) {
        auto page = driver.transferPage();
        ASSERT_TRUE(page);
        EXPECT_EQ(page->bitsPerPixel(), 24);
        EXPECT_EQ(page->width(), 236); // 80 mm at 75 dpi
        EXPECT_EQ(page->xPelsPerMeter(), 2953);
        EXPECT_EQ(driver.pendingPages(), 0);
        EXPECT_EQ(driver.transferPage(), nullptr);
        driver.endBatch();
    }
}

TEST_F(SaneDriverTest, SamplesBecomeBitmapPixels)
{
    useTestBackendWith("test-picture \"Solid white\"\n");
    open();
    ASSERT_TRUE(driver.writeCapability(ICAP_XRESOLUTION, 75));
    struct Case {
        int type;
        int depth;
        int bitsPerPixel;
    };
    const Case cases[] = {
        {TWPT_GRAY, 1, 1}, // SANE's line art has 1 for black, ours 0
        {TWPT_GRAY, 8, 8}, {TWPT_GRAY, 16, 8}, {TWPT_RGB, 8, 24}, {TWPT_RGB, 16, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.depth));
        ASSERT_TRUE(driver.writeCapability(ICAP_PIXELTYPE, c.type));
        ASSERT_TRUE(driver.writeCapability(ICAP_BITDEPTH, c.depth));
        auto page = driver.transferPage();
        driver.endBatch();
        ASSERT_TRUE(page);
        EXPECT_EQ(page->bitsPerPixel(), c.bitsPerPixel);
        EXPECT_EQ(page->width(), 236);
        EXPECT_EQ(page->height(), 295);
        const std::size_t fullBytes = static_cast<std::size_t>(page->width()) * c.bitsPerPixel / 8;
        const std::uint8_t* last = page->row(page->height() - 1);
        EXPECT_TRUE(std::all_of(last, last + fullBytes, [](std::uint8_t b) { return b == 0xFF; }));
    }
}

// The whole road: session, component and SANE driver, scanning from the feeder.
class SaneScanTest : public SaneTest {
protected:
    SaneScanTest()
    {
        twain = std::make_unique<TwainComponent>(std::make_unique<SaneDriver>());
        session = std::make_unique<TVMKScan>(*twain, prompts);
        session->OnStatus = [this](TVMKScan&, const std::string& text) {
            threads.insert(std::this_thread::get_id());
            statuses.push_back(text);
        };
        session->OnError = [this](TVMKScan&, const std::exception& error,
                                  const std::string& origin) {
            errors.push_back(origin + ": " + error.what());
        };
        session->OnImageSaved = [this](TVMKScan&, const std::string& path) {
            threads.insert(std::this_thread::get_id());
            saved.push_back(path);
        };
        session->OnScanComplete = [this](TVMKScan&) {
            threads.insert(std::this_thread::get_id());
            ++completes;
        };
        folder = (home.work() / "job").string();
    }

    void scanAndWait()
    {
        session->scan(folder, std::numeric_limits<std::int32_t>::max());
        ASSERT_TRUE(test::waitUntilIdle(*twain));
    }

    static std::string pageName(int number)
    {
        return "img_" + TVMKScan::zeroPad(number, 3) + ".tif";
    }

    test::AnsweringPrompts prompts;
    std::unique_ptr<TwainComponent> twain;
    std::unique_ptr<TVMKScan> session;
    std::string folder;
    Texts statuses;
    Texts errors;
    Texts saved;
    std::set<std::thread::id> threads;
    int completes = 0;
};

TEST_F(SaneScanTest, FeederScanWritesRgbPackBitsPagesAtThreeHundredDpiUntilItIsEmpty)
{
    session->setSourceName("frontend-tester");
    ASSERT_EQ(session->SourceName, kFirst);

    // The backend's feeder holds ten pages each time the source is opened.
    for (int scan = 0; scan < 2; ++scan) {
        SCOPED_TRACE(scan);
        saved.clear();
        statuses.clear();
        completes = 0;
        scanAndWait();

        ASSERT_TRUE(errors.empty()) << errors.front();
        Texts expected;
        for (int number = scan * 10 + 1; number <= scan * 10 + 10; ++number)
            expected.push_back(folder + "/" + pageName(number));
        EXPECT_EQ(saved, expected);
        EXPECT_EQ(completes, 1);
        EXPECT_EQ(statuses.front(),
                  scan == 0 ? "Beginning Document Scan to path " + folder
                            : "Beginning Document Scan.  There are already 10 image(s) in path " +
                                  folder);
        EXPECT_FALSE(contains(statuses, "-Auto Feed could not be set,  auto feed will be "
                                        "disabled for this run."));
        // The counters start again with every scan; the folder's count goes on.
        EXPECT_TRUE(contains(statuses, "Handle from TWAIN Device = 0. All Images Acquired (Images "
                                       "acquired:10  in Path:" +
                                           std::to_string(10 * (scan + 1)) + ")"));
    }
    EXPECT_EQ(threads, std::set{std::this_thread::get_id()});

    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        ++files;
        SCOPED_TRACE(entry.path().string());
        std::string info;
        ASSERT_EQ(test::runCommand("tiffinfo '" + entry.path().string() + "'", &info), 0) << info;
        for (const char* line :
             {"Image Width: 944 Image Length: 1181", "Resolution: 300, 300 pixels/inch",
              "Bits/Sample: 8", "Compression Scheme: PackBits",
              "Photometric Interpretation: RGB color", "Samples/Pixel: 3"})
            EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
    }
    EXPECT_EQ(files, 20U);
}

TEST_F(SaneScanTest, FeederStatusesBecomeReports)
{
    struct Case {
        const char* status;
        Texts errors;
    };
    const std::string head = "TWAINFailure: Scanner " + kFirst + " has reported an error. ";
    const Case cases[] = {
        {"SANE_STATUS_NO_DOCS", {}},
        {"SANE_STATUS_JAMMED",
         {head + "Document feeder jammed. Error Code=1  Status Code=6   DG=2 DAT=260 CAP=0 MSG=1"}},
        {"SANE_STATUS_COVER_OPEN",
         {head + "Scanner cover is open. Error Code=1  Status Code=8   DG=2 DAT=260 CAP=0 MSG=1"}},
        {"SANE_STATUS_IO_ERROR",
         {head + "Error during device I/O. Error Code=1  Status Code=9   DG=2 DAT=260 CAP=0 "
                 "MSG=1"}},
    };
    // The backend stops the reader thread of a failed page asynchronously, which hangs for good
    // if that thread is inside malloc at that moment. Small pages and a pause before the page is
    // cancelled (the end of the scan) let the thread finish first.
    session->OnScanComplete = [this](TVMKScan&) {
        ++completes;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        useTestBackendWith(std::string("br_x 10.0\nbr_y 10.0\nread-status-code \"") + c.status +
                           "\"\n");
        session->setSourceName(kFirst);
        errors.clear();
        statuses.clear();
        completes = 0;

        scanAndWait();

        EXPECT_EQ(errors, c.errors);
        EXPECT_TRUE(saved.empty());
        EXPECT_EQ(completes, 1);
        EXPECT_TRUE(contains(statuses, "Handle from TWAIN Device = 0. All Images Acquired (Images "
                                       "acquired:0  in Path:0)"));
        EXPECT_FALSE(twain->IsBusy());
    }
}

} // namespace
} // namespace pagewren
