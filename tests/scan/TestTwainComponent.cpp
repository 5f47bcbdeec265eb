#include "scan/TwainComponent.h"

#include "ScanTestSupport.h"
#include "scan/ScanFailure.h"
#include "scan/SimulatedDriver.h"
#include "scan/TwainConstants.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <thread>

namespace pagewren {
namespace {

using test::makePage;
using test::waitUntilIdle;

// Writes down every event the component raises, and on which thread.
struct Recorder {
    std::vector<std::string> events;
    std::set<std::thread::id> threads;
    // Called from OnXferNext with the number of pages seen so far.
    std::function<void(int pagesSeen, int& numImages, bool& skipNext)> answer;
    bool cancel = false;
    int pagesSeen = 0;

    void attach(TwainComponent& twain)
    {
        twain.OnNegotiation = [this](TwainComponent&, bool& cancelScan) {
            threads.insert(std::this_thread::get_id());
            events.emplace_back("negotiation");
            cancelScan = cancel;
        };
        twain.OnImageReady = [this](TwainComponent&, std::unique_ptr<Bitmap> page) {
            threads.insert(std::this_thread::get_id());
            if (page)
                ++pagesSeen;
            events.push_back(page ? "image " + std::to_string(page->width()) : "image none");
        };
        twain.OnXferNext = [this](TwainComponent&, int& numImages, bool& skipNext) {
            threads.insert(std::this_thread::get_id());
            events.push_back("xfer " + std::to_string(numImages) + (skipNext ? " skip" : ""));
            if (answer)
                answer(pagesSeen, numImages, skipNext);
        };
        twain.OnFailure = [this](TwainComponent&, std::uint32_t dg, std::uint16_t dat,
                                 std::uint16_t cap, std::uint16_t msg, int error, int status,
                                 const std::string& message) {
            threads.insert(std::this_thread::get_id());
            events.push_back("failure DG=" + std::to_string(dg) + " DAT=" + std::to_string(dat) +
                             " CAP=" + std::to_string(cap) + " MSG=" + std::to_string(msg) +
                             " Error=" + std::to_string(error) +
                             " Status=" + std::to_string(status) + " " + message);
        };
        twain.OnDeviceEvent = [this](TwainComponent&, int event, const std::string& device, int a,
                                     int b, int c) {
            threads.insert(std::this_thread::get_id());
            events.push_back("device " + std::to_string(event) + " " + device + " " +
                             std::to_string(a) + std::to_string(b) + std::to_string(c));
        };
    }
};

ScanFailure jam()
{
    return ScanFailure(twain::DG_IMAGE, twain::DAT_IMAGENATIVEXFER, twain::MSG_GET,
                       twain::TWRC_FAILURE, 20, "Paper jam");
}

class TwainComponentTest : public ::testing::Test {
protected:
    TwainComponentTest()
    {
        auto driver = std::make_unique<SimulatedDriver>();
        sim = driver.get();
        sim->addSource("Flatbed One");
        sim->addSource("Feeder Two");
        twain = std::make_unique<TwainComponent>(std::move(driver));
        twain->DisableAfterAcquire = true;
        recorder.attach(*twain);
    }

    long transfers() const
    {
        const auto log = sim->requests();
        return std::count(log.begin(), log.end(), "transfer");
    }

    SimulatedDriver* sim;
    std::unique_ptr<TwainComponent> twain;
    Recorder recorder;
};

TEST_F(TwainComponentTest, PagesArriveOnTheUserInterfaceThreadAfterAcquireReturned)
{
    for (int width : {1, 2, 3})
        sim->addPage(makePage(width));

    ASSERT_TRUE(twain->Acquire("Feeder Two"));
    EXPECT_TRUE(recorder.events.empty()) << "events must wait for the event loop";
    EXPECT_TRUE(twain->IsBusy());
    ASSERT_TRUE(waitUntilIdle(*twain));

    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"negotiation", "image 1", "xfer 2", "image 2", "xfer 1",
                                        "image 3", "xfer 0"}));
    EXPECT_EQ(recorder.threads, std::set{std::this_thread::get_id()});
    const auto workers = sim->transferThreads();
    ASSERT_EQ(workers.size(), 1U);
    EXPECT_NE(*workers.begin(), std::this_thread::get_id());
    // The last page disables and closes the source and the manager.
    EXPECT_EQ(sim->requests().front(), "open Feeder Two");
    EXPECT_EQ(sim->requests().back(), "close");
    EXPECT_FALSE(sim->isManagerOpen());
}

TEST_F(TwainComponentTest, TransferLoopFollowsTheHandlersAnswers)
{
    const auto skipOnce = [asked = 0](int, int&, bool& skip) mutable { skip = ++asked == 1; };
    const auto resetAfterFirst = [](int seen, int& num, bool&) {
        if (seen == 1)
            num = 0;
    };
    struct Case {
        const char* name;
        std::vector<int> feeder; // page widths; 0 is a failed transfer
        bool countKnown;
        std::function<void(int, int&, bool&)> answer;
        std::vector<std::string> events;
        long transfers;
    };
    const Case cases[] = {
        {"feeder that cannot count ends with an empty transfer",
         {1, 2},
         false,
         nullptr,
         {"negotiation", "image 1", "xfer -1", "image 2", "xfer -1", "image none", "xfer 0"},
         3},
        {"failed transfer is reported and gives no page",
         {1, 0, 3},
         true,
         nullptr,
         {"negotiation", "image 1", "xfer 2",
          "failure DG=2 DAT=260 CAP=0 MSG=1 Error=1 Status=20 Paper jam", "image none", "xfer 1",
          "image 3", "xfer 0"},
         3},
        {"SkipNext drops the next page",
         {1, 2, 3},
         true,
         skipOnce,
         {"negotiation", "image 1", "xfer 2", "image none", "xfer 1", "image 3", "xfer 0"},
         2},
        {"NumImages 0 drops every pending page",
         {1, 2, 3},
         true,
         resetAfterFirst,
         {"negotiation", "image 1", "xfer 2"},
         1},
        {"empty feeder", {}, true, nullptr, {"negotiation", "image none", "xfer 0"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto driver = std::make_unique<SimulatedDriver>();
        sim = driver.get();
        sim->addSource("Feeder Two");
        sim->setPendingKnown(c.countKnown);
        for (int width : c.feeder) {
            if (width == 0)
                sim->addFailedTransfer(jam());
            else
                sim->addPage(makePage(width));
        }
        twain = std::make_unique<TwainComponent>(std::move(driver));
        recorder = Recorder{};
        recorder.attach(*twain);
        recorder.answer = c.answer;

        ASSERT_TRUE(twain->Acquire("Feeder Two"));
        ASSERT_TRUE(waitUntilIdle(*twain));
        EXPECT_EQ(recorder.events, c.events);
        EXPECT_EQ(transfers(), c.transfers);
        EXPECT_EQ(sim->pagesLeft(), 0);
    }
}

TEST_F(TwainComponentTest, CancelScanClosesSourceAndManagerWithoutTransfers)
{
    sim->addPage(makePage(1));
    recorder.cancel = true;
    twain->DisableAfterAcquire = false; // a cancel closes everything regardless

    ASSERT_TRUE(twain->Acquire("Feeder Two"));
    ASSERT_TRUE(waitUntilIdle(*twain));

    EXPECT_EQ(recorder.events, std::vector<std::string>{"negotiation"});
    EXPECT_EQ(transfers(), 0);
    EXPECT_EQ(sim->openSourceName(), "");
    EXPECT_FALSE(sim->isManagerOpen());
}

TEST_F(TwainComponentTest, SourceStaysOpenWhenNotDisabledAfterAcquire)
{
    sim->addPage(makePage(1));
    twain->DisableAfterAcquire = false;
    ASSERT_TRUE(twain->Acquire("Feeder Two"));
    ASSERT_TRUE(waitUntilIdle(*twain));
    EXPECT_EQ(sim->openSourceName(), "Feeder Two");
}

TEST_F(TwainComponentTest, NoMatchingNameKeepsThePreviousChoice)
{
    ASSERT_TRUE(twain->OpenSource("Feeder Two"));
    twain->CloseSource();
    ASSERT_TRUE(twain->Acquire("Feeder"));
    ASSERT_TRUE(waitUntilIdle(*twain));
    const auto log = sim->requests();
    EXPECT_EQ(std::count(log.begin(), log.end(), "open Feeder Two"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "open Flatbed One"), 0);
}

TEST_F(TwainComponentTest, OpenFailuresAreRaisedAndLeaveEverythingClosed)
{
    struct Case {
        const char* name;
        std::optional<ScanFailure> openFailure;
        std::string source;
        std::string event;
    };
    const Case cases[] = {
        {"source refuses to open", ScanFailure(1, 3, 0x0401, 1, 4, "Device busy"), "Feeder Two",
         "failure DG=1 DAT=3 CAP=0 MSG=1025 Error=1 Status=4 Device busy"},
        {"no source chosen and none matches", std::nullopt, "Model 9",
         "failure DG=1 DAT=3 CAP=0 MSG=1025 Error=1 Status=3 No scanner named Model 9 is "
         "installed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto driver = std::make_unique<SimulatedDriver>();
        sim = driver.get();
        sim->addSource("Feeder Two");
        sim->addPage(makePage(1));
        if (c.openFailure)
            sim->failOpen(*c.openFailure);
        twain = std::make_unique<TwainComponent>(std::move(driver));
        recorder = Recorder{};
        recorder.attach(*twain);

        ASSERT_TRUE(twain->Acquire(c.source));
        ASSERT_TRUE(waitUntilIdle(*twain));
        EXPECT_EQ(recorder.events, std::vector<std::string>{c.event});
        EXPECT_FALSE(sim->isManagerOpen());

        recorder.events.clear();
        EXPECT_FALSE(twain->OpenSource(c.source));
        EXPECT_EQ(recorder.events, std::vector<std::string>{c.event});
        EXPECT_FALSE(sim->isManagerOpen());
    }
}

TEST_F(TwainComponentTest, OnlySelectedDeviceEventsAreRaised)
{
    sim->addDeviceEvent({twain::TWDE_DEVICEREADY, "Feeder Two", 0, 0, 0});
    sim->addDeviceEvent({twain::TWDE_PAPERJAM, "Feeder Two", 1, 2, 3});
    sim->addPage(makePage(1));
    twain->DeviceEvents = {twain::TWDE_PAPERJAM};

    ASSERT_TRUE(twain->Acquire("Feeder Two"));
    ASSERT_TRUE(waitUntilIdle(*twain));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"negotiation", "device 13 Feeder Two 123",
                                                         "image 1", "xfer 0"}));
}

TEST_F(TwainComponentTest, SecondAcquisitionAndRequestsWhileTheWorkerRunsAreRefused)
{
    sim->setValue(twain::ICAP_PIXELTYPE, twain::TWPT_RGB);
    sim->addPage(makePage(1));
    int typeSeenInHandler = -2;
    bool acquireInHandler = true;
    bool listFailed = false;
    twain->OnNegotiation = [&](TwainComponent& sender, bool&) {
        typeSeenInHandler = sender.GetPixelType();
        acquireInHandler = sender.Acquire("Feeder Two");
        std::vector<std::string> names;
        try {
            sender.GetSourceList(names);
        } catch (const ScanFailure&) {
            listFailed = true;
        }
    };

    ASSERT_TRUE(twain->Acquire("Feeder Two"));
    // The worker owns the driver now; only event handlers may reach it.
    EXPECT_EQ(twain->GetPixelType(), -1);
    EXPECT_FALSE(twain->Acquire("Feeder Two"));
    ASSERT_TRUE(waitUntilIdle(*twain));

    EXPECT_EQ(typeSeenInHandler, twain::TWPT_RGB);
    EXPECT_FALSE(acquireInHandler);
    EXPECT_TRUE(listFailed);
    EXPECT_EQ(sim->capabilityRequests(), std::vector<std::string>{"get ICAP_PIXELTYPE"});
    EXPECT_EQ(transfers(), 1);
}

TEST_F(TwainComponentTest, SourceListOpensAndClosesTheManagerOnlyWhenItWasClosed)
{
    std::vector<std::string> names{"stale"};
    twain->GetSourceList(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Flatbed One", "Feeder Two"}));
    EXPECT_FALSE(sim->isManagerOpen());

    ASSERT_TRUE(twain->OpenSource("Flatbed One"));
    twain->GetSourceList(names);
    EXPECT_TRUE(sim->isManagerOpen());
    EXPECT_EQ(sim->openSourceName(), "Flatbed One");

    sim->failManager(ScanFailure(1, 4, 0x0301, 1, 1, "no manager"));
    twain->CloseSource();
    EXPECT_THROW(twain->GetSourceList(names), ScanFailure);
    EXPECT_TRUE(names.empty());
}

// Forwards to a driver the test keeps, so it can be inspected after the component is gone.
class BorrowedDriver : public ScanDriver {
public:
    explicit BorrowedDriver(SimulatedDriver& driver) : d(driver) {}
    void openManager() override { d.openManager(); }
    void closeManager() noexcept override { d.closeManager(); }
    bool isManagerOpen() const override { return d.isManagerOpen(); }
    std::vector<std::string> sourceNames() override { return d.sourceNames(); }
    void openSource(const std::string& name) override { d.openSource(name); }
    void closeSource() noexcept override { d.closeSource(); }
    std::string openSourceName() const override { return d.openSourceName(); }
    std::optional<std::vector<std::uint16_t>> supportedCapabilities() override
    {
        return d.supportedCapabilities();
    }
    std::optional<double> readCapability(std::uint16_t cap) override
    {
        return d.readCapability(cap);
    }
    bool writeCapability(std::uint16_t cap, double value) override
    {
        return d.writeCapability(cap, value);
    }
    std::unique_ptr<Bitmap> transferPage() override { return d.transferPage(); }
    int pendingPages() override { return d.pendingPages(); }
    bool skipPage() override { return d.skipPage(); }
    void endBatch() noexcept override { d.endBatch(); }
    std::vector<DeviceEvent> takeDeviceEvents() override { return d.takeDeviceEvents(); }

private:
    SimulatedDriver& d;
};

TEST(TwainComponentLifetime, DestroyingDuringAnAcquisitionStopsItAndClosesTheSource)
{
    SimulatedDriver sim;
    sim.addSource("Feeder Two");
    for (int width : {1, 2, 3})
        sim.addPage(makePage(width));
    std::vector<std::string> events;
    {
        TwainComponent twain(std::make_unique<BorrowedDriver>(sim));
        twain.OnNegotiation = [&](TwainComponent&, bool&) { events.emplace_back("negotiation"); };
        twain.OnImageReady = [&](TwainComponent&, std::unique_ptr<Bitmap>) {
            events.emplace_back("image");
        };
        ASSERT_TRUE(twain.Acquire("Feeder Two"));
        // The worker now waits for the negotiation, which the event loop never delivers.
    }
    QCoreApplication::processEvents();

    EXPECT_TRUE(events.empty());
    EXPECT_EQ(sim.openSourceName(), "");
    EXPECT_FALSE(sim.isManagerOpen());
    const auto log = sim.requests();
    EXPECT_EQ(std::count(log.begin(), log.end(), "transfer"), 0);
}

} // namespace
} // namespace pagewren
