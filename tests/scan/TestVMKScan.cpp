#include "scan/VMKScan.h"

#include "ScanTestSupport.h"
#include "TestHome.h"
#include "scan/ScanFailure.h"
#include "scan/SimulatedDriver.h"
#include "scan/TwainComponent.h"
#include "scan/TwainConstants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using namespace twain;
using Texts = std::vector<std::string>;
using test::makePage;
using test::waitUntilIdle;

constexpr std::int32_t kNoLimit = std::numeric_limits<std::int32_t>::max();

// A session on a simulated "Model 7 TWAIN" that writes down everything it reports.
class SessionTest : public test::HomeTest {
protected:
    SessionTest()
    {
        auto driver = std::make_unique<SimulatedDriver>();
        sim = driver.get();
        sim->addSource("Model 7 TWAIN");
        twain = std::make_unique<TwainComponent>(std::move(driver));
        session = std::make_unique<TVMKScan>(*twain, prompts);
        session->OnStatus = [this](TVMKScan& sender, const std::string& text) {
            EXPECT_EQ(&sender, session.get());
            statuses.push_back(text);
        };
        session->OnError = [this](TVMKScan&, const std::exception& error,
                                  const std::string& origin) {
            errors.push_back(origin + ": " + error.what());
        };
        session->OnImageSaved = [this](TVMKScan&, const std::string& path) {
            saved.push_back(path);
        };
        session->OnScanStart = [this](TVMKScan&) { ++starts; };
        session->OnScanComplete = [this](TVMKScan&) { ++completes; };
        session->setSourceName("Model 7");
        folder = (home.work() / "job").string();
    }

    void addPages(int count)
    {
        for (int width = 1; width <= count; ++width)
            sim->addPage(makePage(width));
    }

    void scanAndWait(const std::string& into, std::int32_t limit = kNoLimit)
    {
        session->scan(into, limit);
        ASSERT_TRUE(waitUntilIdle(*twain));
    }

    long requests(const std::string& line) const
    {
        const auto log = sim->requests();
        return std::count(log.begin(), log.end(), line);
    }

    static Texts namesIn(const std::string& path)
    {
        Texts names;
        for (const auto& entry : fs::directory_iterator(path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::AnsweringPrompts prompts;
    SimulatedDriver* sim;
    std::unique_ptr<TwainComponent> twain;
    std::unique_ptr<TVMKScan> session;
    std::string folder;
    Texts statuses;
    Texts errors;
    Texts saved;
    int starts = 0;
    int completes = 0;
};

TEST_F(SessionTest, ScanWritesNumberedPackBitsPagesAndReportsEachStep)
{
    addPages(2);
    scanAndWait(folder); // a folder that does not exist yet, without a trailing "/"

    ASSERT_EQ(prompts.questions.size(), 1U);
    EXPECT_EQ(prompts.questions[0].caption, "Confirm");
    EXPECT_EQ(prompts.questions[0].text,
              "Set the document in the scanner.  Once the document has been set,  click \"Yes\" "
              "or click \"No\" to cancel.\nAre you ready?");
    EXPECT_EQ(
        statuses,
        (Texts{"Beginning Document Scan to path " + folder, "-Acquiring Image from Scanner...",
               "-Auto Feed could not be set,  auto feed will be disabled for this run.",
               "Processing image 1", "Saving TIF Image of image 1 (Images in path 1)",
               "Image 1 has been scanned. ", "Processing image 2",
               "Saving TIF Image of image 2 (Images in path 2)", "Image 2 has been scanned. ",
               "Scanning has completed."}));
    EXPECT_EQ(saved, (Texts{folder + "/img_001.tif", folder + "/img_002.tif"}));
    EXPECT_EQ(session->ScanFolder, folder + "/");
    EXPECT_EQ(namesIn(folder), (Texts{"img_001.tif", "img_002.tif"}));
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(completes, 1);
    EXPECT_EQ(session->ImagesScanned, 2);
    EXPECT_EQ(session->ImagesInPath, 2);
    EXPECT_FALSE(session->Processing);
    EXPECT_EQ(session->WaitCount, 0);
    // The source is closed after the last page.
    EXPECT_EQ(sim->openSourceName(), "");
    EXPECT_FALSE(sim->isManagerOpen());

    std::string info;
    ASSERT_EQ(test::runCommand("tiffinfo " + saved[1], &info), 0) << info;
    EXPECT_NE(info.find("Compression Scheme: PackBits"), std::string::npos) << info;
    EXPECT_NE(info.find("Image Width: 2 Image Length: 3"), std::string::npos) << info;
}

TEST_F(SessionTest, NumberingContinuesFromTheTifFilesAlreadyThereAndNeverOverwrites)
{
    struct Case {
        const char* name;
        Texts existing;
        int pages;
        std::string beginning; // after the folder's path
        Texts added;
    };
    const Case cases[] = {
        {"empty folder", {}, 1, "", {"img_001.tif"}},
        {"two pages there", {"img_001.tif", "img_002.tif"}, 1, "2", {"img_003.tif"}},
        {"a gap: the next number is taken",
         {"img_001.tif", "img_003.tif"},
         2,
         "2",
         {"img_004.tif", "img_005.tif"}},
        {"other files", {"cover.tif", "notes.txt", "img_001.TIF"}, 1, "1", {"img_002.tif"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string job = (home.work() / c.name).string();
        fs::create_directories(job);
        for (const auto& name : c.existing)
            test::writeFile(fs::path(job) / name, "keep " + name);
        statuses.clear();
        addPages(c.pages);

        scanAndWait(job + "/");

        const std::string beginning = c.beginning.empty()
                                          ? "Beginning Document Scan to path " + job + "/"
                                          : "Beginning Document Scan.  There are already " +
                                                c.beginning + " image(s) in path " + job + "/";
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.front(), beginning);
        Texts expected = c.existing;
        expected.insert(expected.end(), c.added.begin(), c.added.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(namesIn(job), expected);
        for (const auto& name : c.existing)
            EXPECT_EQ(test::readFile(fs::path(job) / name), "keep " + name);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(SessionTest, FileAppearingWhileThePageIsWrittenKeepsItsName)
{
    addPages(1);
    const std::string job = folder + "/";
    fs::create_directories(job);
    // Another program takes img_001.tif just before the page is renamed into place.
    session->OnStatus = [&](TVMKScan&, const std::string& text) {
        if (text.starts_with("Saving TIF Image"))
            test::writeFile(job + "img_001.tif", "someone else's");
    };
    scanAndWait(job);

    EXPECT_EQ(test::readFile(job + "img_001.tif"), "someone else's");
    EXPECT_EQ(saved, Texts{job + "img_002.tif"});
    EXPECT_EQ(namesIn(job), (Texts{"img_001.tif", "img_002.tif"}));
    EXPECT_EQ(session->ImagesInPath, 2);
}

TEST_F(SessionTest, AnswerNoSendsNothingToTheScanner)
{
    prompts.answer = false;
    addPages(1);
    session->ImagesScanned = 5;
    session->ImagesInPath = 6;
    session->WaitCount = 7;

    scanAndWait(folder);

    EXPECT_EQ(statuses, Texts{"Acquiring Image canceled by user"});
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(session->ImagesScanned, 5);
    EXPECT_EQ(session->ImagesInPath, 6);
    EXPECT_EQ(session->WaitCount, 7);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_FALSE(sim->isManagerOpen());
}

TEST_F(SessionTest, FolderProblemsAreReportedBeforeAsking)
{
    const std::string file = (home.work() / "page.tif").string();
    test::writeFile(file, "x");
    struct Case {
        std::string folder;
        std::string error;
    };
    const Case cases[] = {
        {file, "TVMKScan.scan: " + file + " is a file and not a directory."},
        {file + "/", "TVMKScan.scan: " + file + "/ is a file and not a directory."},
        {file + "/job", "TVMKScan.scan: Directory " + file +
                            "/job does not exist.  Scanning of images "
                            "cancelled."},
        {"", "TVMKScan.scan: Directory  does not exist.  Scanning of images cancelled."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        errors.clear();
        session->ScanFolder.clear();
        scanAndWait(c.folder);
        EXPECT_EQ(errors, Texts{c.error});
    }
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_EQ(starts, 0);
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(SessionTest, PageWithoutBitmapChangesNothing)
{
    session->ScanFolder = folder + "/";
    session->ImagesScanned = 3;
    session->ImagesInPath = 4;
    session->twainImageReady(*twain, nullptr);

    EXPECT_EQ(statuses,
              Texts{"Handle from TWAIN Device = 0. All Images Acquired (Images acquired:3  in "
                    "Path:4)"});
    EXPECT_EQ(session->ImagesScanned, 3);
    EXPECT_EQ(session->ImagesInPath, 4);
    EXPECT_FALSE(session->Processing);
    EXPECT_TRUE(saved.empty());
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(SessionTest, NextPageHandlerSkipsAtTheLimitAndCompletesOnZero)
{
    struct Case {
        std::int32_t scanned;
        std::int32_t max;
        int numImages;
        bool skip;
        int completes;
    };
    const Case cases[] = {
        {1, 5, 2, false, 0},
        {5, 5, 2, true, 0},
        {6, 5, -1, true, 0},
        {9, 5, 0, false, 1}, // no pages pending: completion, SkipNext untouched
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scanned);
        completes = 0;
        statuses.clear();
        session->ImagesScanned = c.scanned;
        session->MaxImages = c.max;
        int numImages = c.numImages;
        bool skip = false;
        session->twainXferNext(*twain, numImages, skip);
        EXPECT_EQ(skip, c.skip);
        EXPECT_EQ(numImages, c.numImages);
        EXPECT_EQ(completes, c.completes);
        EXPECT_EQ(statuses, c.completes ? Texts{"Scanning has completed."} : Texts{});
    }
}

TEST_F(SessionTest, PagesBeyondTheLimitAreSkipped)
{
    addPages(4);
    scanAndWait(folder, 2);
    EXPECT_EQ(saved.size(), 2U);
    EXPECT_EQ(requests("skip"), 2);
    EXPECT_EQ(requests("transfer"), 2);
    EXPECT_EQ(completes, 1);
}

TEST_F(SessionTest, FailureTextNamesTheSourceAndEveryCode)
{
    struct Case {
        std::uint32_t dg;
        std::uint16_t dat, cap, msg;
        int error, status;
        std::string message;
        std::string text;
    };
    const std::string head = "TWAINFailure: Scanner Model 7 TWAIN has reported an error. ";
    const Case cases[] = {
        {1, 3, 0, 1, 1, 4, "", head + "Error Code=1  Status Code=4   DG=1 DAT=3 CAP=0 MSG=1"},
        {2, 0x0104, 0, 1, 1, 6, "Document feeder jammed",
         head + "Document feeder jammed. Error Code=1  Status Code=6   DG=2 DAT=260 CAP=0 MSG=1"},
        {1, 0xFFFF, 0x8000, 0x0401, 1, 3, "",
         head + "Error Code=1  Status Code=3   DG=1 DAT=65535 CAP=32768 MSG=1025"},
    };
    ASSERT_EQ(session->SourceName, "Model 7 TWAIN");
    for (const Case& c : cases) {
        errors.clear();
        session->twainFailure(*twain, c.dg, c.dat, c.cap, c.msg, c.error, c.status, c.message);
        EXPECT_EQ(errors, Texts{c.text});
    }
    EXPECT_TRUE(statuses.empty());
}

TEST_F(SessionTest, FailedTransferIsReportedAndTheScanGoesOn)
{
    sim->addPage(makePage(1));
    sim->addFailedTransfer(
        ScanFailure(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_FAILURE, 20, "Paper jam"));
    sim->addPage(makePage(3));
    scanAndWait(folder);

    EXPECT_EQ(errors, Texts{"TWAINFailure: Scanner Model 7 TWAIN has reported an error. Paper "
                            "jam. Error Code=1  Status Code=20   DG=2 DAT=260 CAP=0 MSG=1"});
    EXPECT_NE(std::find(statuses.begin(), statuses.end(),
                        "Handle from TWAIN Device = 0. All Images Acquired (Images acquired:1  in "
                        "Path:1)"),
              statuses.end());
    EXPECT_EQ(saved, (Texts{folder + "/img_001.tif", folder + "/img_002.tif"}));
    EXPECT_EQ(completes, 1);
}

TEST_F(SessionTest, DeviceEventTexts)
{
    struct Case {
        int event;
        int a, b, c;
        std::string text;
    };
    const Case cases[] = {
        {TWDE_CHECKAUTOMATICCAPTURE, 1, 2, 3,
         "OnDeviceEvent:TWDE_CHECKAUTOMATICCAPTURE  A=1  B=2  C=3"},
        {TWDE_CHECKBATTERY, 0, 0, 0, "OnDeviceEvent:TWDE_CHECKBATTERY  A=0  B=0  C=0"},
        {TWDE_CHECKDEVICEONLINE, 0, 0, 0, "OnDeviceEvent:  A=0  B=0  C=0"},
        {TWDE_CHECKRESOLUTION, 300, -1, 0, "OnDeviceEvent:TWDE_CHECKRESOLUTION  A=300  B=-1  C=0"},
        {TWDE_PAPERDOUBLEFEED, 0, 0, 0, "OnDeviceEvent:TWDE_PAPERDOUBLEFEED  A=0  B=0  C=0"},
        {TWDE_PAPERJAM, 0, 0, 0, "OnDeviceEvent:TWDE_PAPERJAM  A=0  B=0  C=0"},
        {TWDE_POWERSAVENOTIFY, 0, 0, 0, "OnDeviceEvent:TWDE_POWERSAVENOTIFY  A=0  B=0  C=0"},
    };
    for (const Case& c : cases) {
        statuses.clear();
        session->twainDeviceEvent(*twain, c.event, "Model 7 TWAIN", c.a, c.b, c.c);
        EXPECT_EQ(statuses, Texts{c.text});
    }

    // Raised through the component when selected.
    statuses.clear();
    twain->DeviceEvents = {TWDE_LAMPFAILURE};
    sim->addDeviceEvent({TWDE_LAMPFAILURE, "Model 7 TWAIN", 4, 5, 6});
    addPages(1);
    scanAndWait(folder);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(),
                        "OnDeviceEvent:TWDE_LAMPFAILURE  A=4  B=5  C=6"),
              statuses.end());
}

TEST_F(SessionTest, ResolveDefaultSourceCompletesThroughEveryEntry)
{
    sim->addSource("Model 7 TWAIN (WIA)");
    struct Case {
        std::string name;
        std::string resolved;
    };
    const Case cases[] = {
        {"Model 7", "Model 7 TWAIN (WIA)"},
        {"(WIA)", "Model 7 TWAIN (WIA)"},
        {"TWAIN", "Model 7 TWAIN (WIA)"},
        {"model 7", "model 7"},
        {"Model 8", "Model 8"},
        {"", ""},
    };
    for (const Case& c : cases) {
        session->setSourceName(c.name);
        EXPECT_EQ(session->SourceName, c.resolved) << c.name;
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(SessionTest, SourceListIsRefreshedAndKeptWhenListingFails)
{
    sim->addSource("Model 7 TWAIN (WIA)");
    const StringList& list = session->getSourceList();
    EXPECT_EQ(list, (StringList{"Model 7 TWAIN", "Model 7 TWAIN (WIA)"}));

    sim->failManager(ScanFailure(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, 1, 1, "no manager"));
    const StringList& again = session->getSourceList();
    EXPECT_EQ(&again, &list);
    EXPECT_EQ(again, (StringList{"Model 7 TWAIN", "Model 7 TWAIN (WIA)"}));
    EXPECT_EQ(errors, Texts{"TVMKScan.getSourceList: no manager"});
}

TEST_F(SessionTest, FeederRequestsReachTheSourceSoOnlyAnEmptyFeederIsCancelled)
{
    struct Case {
        const char* name;
        double loaded;
        std::size_t saved;
        long transfers;
        bool cancelledStatus;
    };
    const Case cases[] = {
        {"loaded feeder", 1, 2, 2, false},
        {"empty feeder", 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto driver = std::make_unique<SimulatedDriver>();
        sim = driver.get();
        sim->addSource("Model 7 TWAIN");
        sim->setValue(CAP_PAPERDETECTABLE, 1);
        sim->setValue(CAP_FEEDERENABLED, 0);
        sim->setValue(CAP_AUTOFEED, 0);
        sim->setValue(CAP_FEEDERLOADED, c.loaded);
        addPages(2);
        session.reset();
        twain = std::make_unique<TwainComponent>(std::move(driver));
        session = std::make_unique<TVMKScan>(*twain, prompts);
        session->OnStatus = [this](TVMKScan&, const std::string& text) {
            statuses.push_back(text);
        };
        session->OnImageSaved = [this](TVMKScan&, const std::string& path) {
            saved.push_back(path);
        };
        session->OnScanComplete = [this](TVMKScan&) { ++completes; };
        session->setSourceName("Model 7");
        saved.clear();
        statuses.clear();
        completes = 0;

        scanAndWait((home.work() / c.name).string());

        EXPECT_TRUE(twain->FeederEnabledState());
        EXPECT_EQ(saved.size(), c.saved);
        EXPECT_EQ(requests("transfer"), c.transfers);
        EXPECT_EQ(completes, 1);
        const bool cancelled =
            std::find(statuses.begin(), statuses.end(),
                      "-No document in the feeder.  Scanning of images cancelled.") !=
            statuses.end();
        EXPECT_EQ(cancelled, c.cancelledStatus);
        EXPECT_EQ(std::find(statuses.begin(), statuses.end(),
                            "-Auto Feed could not be set,  auto feed will be disabled for this "
                            "run."),
                  statuses.end());
        EXPECT_FALSE(sim->isManagerOpen());
    }
}

TEST_F(SessionTest, FailedPageDropsThePendingPagesAtOnce)
{
    struct Case {
        const char* name;
        int pagesAfter;
        Texts laterErrors; // after the page's own failure
    };
    const Case cases[] = {
        {"pages follow",
         2,
         {"TVMKScan.twainXferNext: Scanning stopped because image 1 could not be saved.  The "
          "remaining images were not scanned."}},
        {"last page", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        completes = 0;
        sim->addPage(Bitmap()); // a page that cannot be written
        for (int width = 2; width < 2 + c.pagesAfter; ++width)
            sim->addPage(makePage(width));

        scanAndWait(folder);

        ASSERT_EQ(errors.size(), 1 + c.laterErrors.size()) << errors.front();
        EXPECT_TRUE(errors[0].starts_with("TVMKScan.twainImageReady: ")) << errors[0];
        EXPECT_EQ(Texts(errors.begin() + 1, errors.end()), c.laterErrors);
        EXPECT_TRUE(saved.empty());
        EXPECT_EQ(completes, 1);
        EXPECT_EQ(sim->pagesLeft(), 0);
        EXPECT_EQ(session->WaitCount, 0);
        EXPECT_TRUE(namesIn(folder).empty()) << namesIn(folder).front();
    }
    EXPECT_EQ(requests("transfer"), 2);
}

TEST_F(SessionTest, ScanAskedForWhileOneRunsIsRefused)
{
    addPages(3);
    const std::string other = (home.work() / "other").string();
    session->OnImageSaved = [&](TVMKScan& sender, const std::string& path) {
        saved.push_back(path);
        if (saved.size() == 1)
            sender.scan(other, kNoLimit);
    };
    scanAndWait(folder);

    EXPECT_EQ(errors, Texts{"TVMKScan.scan: A scan is already running."});
    EXPECT_EQ(prompts.questions.size(), 1U);
    EXPECT_EQ(saved,
              (Texts{folder + "/img_001.tif", folder + "/img_002.tif", folder + "/img_003.tif"}));
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(completes, 1);
}

TEST_F(SessionTest, FailuresOnceTheSourceIsOpenCloseIt)
{
    addPages(1);
    session->OnScanStart = [](TVMKScan&) { throw std::runtime_error("owner failed"); };
    scanAndWait(folder);

    EXPECT_EQ(errors, Texts{"TVMKScan.scan: owner failed"});
    EXPECT_EQ(sim->requests(), (Texts{"open Model 7 TWAIN", "close"}));
    EXPECT_FALSE(sim->isManagerOpen());
    EXPECT_FALSE(twain->IsBusy());
}

TEST_F(SessionTest, SourceThatCannotBeOpenedEndsTheScanBeforeItStarts)
{
    addPages(1);
    sim->failOpen(ScanFailure(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, 1, 4, "Device busy"));
    scanAndWait(folder);

    EXPECT_EQ(errors, Texts{"TWAINFailure: Scanner Model 7 TWAIN has reported an error. Device "
                            "busy. Error Code=1  Status Code=4   DG=1 DAT=3 CAP=0 MSG=1025"});
    EXPECT_EQ(starts, 0);
    EXPECT_FALSE(sim->isManagerOpen());
    EXPECT_EQ(sim->pagesLeft(), 1);
}

TEST_F(SessionTest, CountersAcrossScans)
{
    struct Case {
        bool reset;
        std::int32_t scanned;
    };
    for (const Case& c : {Case{true, 1}, Case{false, 2}}) {
        SCOPED_TRACE(c.reset);
        const std::string job = (home.work() / (c.reset ? "reset" : "keep")).string();
        session->resetCounters();
        session->ResetCountersOnScan = c.reset;
        for (int scan = 0; scan < 2; ++scan) {
            addPages(1);
            scanAndWait(job);
        }
        EXPECT_EQ(session->ImagesScanned, c.scanned);
        EXPECT_EQ(session->ImagesInPath, 2); // recounted from the folder at every scan
        EXPECT_EQ(namesIn(job), (Texts{"img_001.tif", "img_002.tif"}));
    }
}

TEST_F(SessionTest, WithoutOnImageSavedPagesAreOnlyHandedOver)
{
    session->OnImageSaved = nullptr;
    std::vector<int> widths;
    session->OnImageAcquired = [&](TVMKScan&, const Bitmap& page) {
        widths.push_back(page.width());
    };
    addPages(2);
    scanAndWait(folder);

    EXPECT_EQ(widths, (std::vector<int>{1, 2}));
    EXPECT_TRUE(namesIn(folder).empty());
    EXPECT_EQ(session->ImagesScanned, 2);
    EXPECT_EQ(session->ImagesInPath, 0);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(completes, 1);
}

TEST(SessionNames, ZeroPad)
{
    struct Case {
        std::int64_t value;
        int width;
        std::string text;
    };
    const Case cases[] = {{7, 3, "007"},     {42, 3, "042"}, {999, 3, "999"},
                          {1000, 3, "1000"}, {0, 3, "000"},  {5, 0, "5"}};
    for (const Case& c : cases)
        EXPECT_EQ(TVMKScan::zeroPad(c.value, c.width), c.text);
}

} // namespace
} // namespace pagewren
