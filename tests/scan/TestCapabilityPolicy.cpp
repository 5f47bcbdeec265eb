#include "scan/CapabilityPolicy.h"

#include "scan/SimulatedDriver.h"
#include "scan/TwainComponent.h"
#include "scan/TwainConstants.h"

#include <gtest/gtest.h>

#include <map>

namespace pagewren {
namespace {

using namespace twain;
using Caps = std::vector<std::uint16_t>;
using Log = std::vector<std::string>;

// A source as a test describes it.
struct Source {
    std::optional<Caps> supported;
    std::map<std::uint16_t, double> values;
    std::set<std::uint16_t> failingReads = {};
    std::set<std::uint16_t> refusedSets = {};
};

// A component with that source open, as during the negotiation.
struct OpenSource {
    explicit OpenSource(const Source& source)
    {
        auto driver = std::make_unique<SimulatedDriver>();
        sim = driver.get();
        sim->addSource("Model 7");
        sim->setSupportedCapabilities(source.supported);
        for (const auto& [cap, value] : source.values)
            sim->setValue(cap, value);
        for (auto cap : source.failingReads)
            sim->failRead(cap);
        for (auto cap : source.refusedSets)
            sim->refuseSet(cap);
        twain = std::make_unique<TwainComponent>(std::move(driver));
        EXPECT_TRUE(twain->OpenSource("Model 7"));
    }

    SimulatedDriver* sim;
    std::unique_ptr<TwainComponent> twain;
};

const Caps kImageCaps = {ICAP_PIXELTYPE, ICAP_BITDEPTH, ICAP_XRESOLUTION, ICAP_YRESOLUTION};

TEST(CapabilityPolicy, NegotiationAsksForColourEightBitsAndThreeHundredDpi)
{
    struct Case {
        const char* name;
        Source source;
        Log requests;
        std::map<std::uint16_t, double> after;
    };
    const Case cases[] = {
        {"black and white, 1 bit, 200 dpi: every value is set, in order",
         {kImageCaps,
          {{ICAP_PIXELTYPE, TWPT_BW},
           {ICAP_BITDEPTH, 1},
           {ICAP_XRESOLUTION, 200},
           {ICAP_YRESOLUTION, 200}}},
         {"get ICAP_PIXELTYPE", "set ICAP_PIXELTYPE 2", "get ICAP_BITDEPTH", "set ICAP_BITDEPTH 8",
          "get ICAP_XRESOLUTION", "set ICAP_XRESOLUTION 300", "get ICAP_YRESOLUTION",
          "set ICAP_YRESOLUTION 300"},
         {{ICAP_PIXELTYPE, TWPT_RGB},
          {ICAP_BITDEPTH, 8},
          {ICAP_XRESOLUTION, 300},
          {ICAP_YRESOLUTION, 300}}},
        {"already at the targets: reads only",
         {kImageCaps,
          {{ICAP_PIXELTYPE, TWPT_RGB},
           {ICAP_BITDEPTH, 8},
           {ICAP_XRESOLUTION, 300},
           {ICAP_YRESOLUTION, 300}}},
         {"get ICAP_PIXELTYPE", "get ICAP_BITDEPTH", "get ICAP_XRESOLUTION",
          "get ICAP_YRESOLUTION"},
         {}},
        {"bit depth not listed: no request for it at all",
         {Caps{ICAP_PIXELTYPE, ICAP_XRESOLUTION, ICAP_YRESOLUTION},
          {{ICAP_PIXELTYPE, TWPT_GRAY}, {ICAP_XRESOLUTION, 300}, {ICAP_YRESOLUTION, 150}}},
         {"get ICAP_PIXELTYPE", "set ICAP_PIXELTYPE 2", "get ICAP_XRESOLUTION",
          "get ICAP_YRESOLUTION", "set ICAP_YRESOLUTION 300"},
         {{ICAP_YRESOLUTION, 300}}},
        {"no list kept: a read that fails is not followed by a set",
         {std::nullopt,
          {{ICAP_PIXELTYPE, TWPT_RGB}, {ICAP_BITDEPTH, 8}, {ICAP_YRESOLUTION, 300}},
          {ICAP_XRESOLUTION}},
         {"get ICAP_PIXELTYPE", "get ICAP_BITDEPTH", "get ICAP_XRESOLUTION",
          "get ICAP_YRESOLUTION"},
         {}},
        {"a refused value stays as the source had it",
         {kImageCaps,
          {{ICAP_PIXELTYPE, TWPT_BW},
           {ICAP_BITDEPTH, 8},
           {ICAP_XRESOLUTION, 300},
           {ICAP_YRESOLUTION, 300}},
          {},
          {ICAP_PIXELTYPE}},
         {"get ICAP_PIXELTYPE", "set ICAP_PIXELTYPE 2", "get ICAP_BITDEPTH", "get ICAP_XRESOLUTION",
          "get ICAP_YRESOLUTION"},
         {{ICAP_PIXELTYPE, TWPT_BW}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenSource open(c.source);
        NegotiateScanCapabilities(*open.twain);
        EXPECT_EQ(open.sim->capabilityRequests(), c.requests);
        for (const auto& [cap, value] : c.after)
            EXPECT_EQ(open.sim->value(cap), value) << capabilityName(cap);
    }
}

TEST(CapabilityPolicy, FeederRequestsGoOutInOrderAndReportAutoFeed)
{
    OpenSource open(
        Source{std::nullopt, {{CAP_AUTOSCAN, 0}, {CAP_FEEDERENABLED, 0}, {CAP_AUTOFEED, 0}}});
    EXPECT_TRUE(RequestFeeder(*open.twain));
    EXPECT_TRUE(open.twain->FeederEnabledState());
    EXPECT_EQ(open.sim->capabilityRequests(),
              (Log{"set CAP_AUTOSCAN 1", "get CAP_FEEDERENABLED", "set CAP_FEEDERENABLED 1",
                   "get CAP_FEEDERENABLED", "get CAP_AUTOFEED", "set CAP_AUTOFEED 1",
                   "get CAP_AUTOFEED"}));

    OpenSource refused(
        Source{std::nullopt, {{CAP_FEEDERENABLED, 1}, {CAP_AUTOFEED, 0}}, {}, {CAP_AUTOFEED}});
    EXPECT_FALSE(RequestFeeder(*refused.twain));
}

TEST(CapabilityPolicy, SetFeederEnabledKeepsWhatItFound)
{
    struct Case {
        const char* name;
        Source source;
        bool result;
        bool state;
        Log requests;
    };
    const Case cases[] = {
        {"not supported", {Caps{}, {{CAP_FEEDERENABLED, 1}}}, false, false, {}},
        {"read fails",
         {std::nullopt, {{CAP_FEEDERENABLED, 1}}, {CAP_FEEDERENABLED}},
         false,
         false,
         {"get CAP_FEEDERENABLED"}},
        {"already enabled",
         {std::nullopt, {{CAP_FEEDERENABLED, 1}}},
         true,
         true,
         {"get CAP_FEEDERENABLED"}},
        {"enabled by the set",
         {std::nullopt, {{CAP_FEEDERENABLED, 0}}},
         true,
         true,
         {"get CAP_FEEDERENABLED", "set CAP_FEEDERENABLED 1", "get CAP_FEEDERENABLED"}},
        {"set refused",
         {std::nullopt, {{CAP_FEEDERENABLED, 0}}, {}, {CAP_FEEDERENABLED}},
         false,
         false,
         {"get CAP_FEEDERENABLED", "set CAP_FEEDERENABLED 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenSource open(c.source);
        EXPECT_EQ(open.twain->SetFeederEnabled(true), c.result);
        EXPECT_EQ(open.twain->FeederEnabledState(), c.state);
        EXPECT_EQ(open.sim->capabilityRequests(), c.requests);
    }
}

TEST(CapabilityPolicy, AutoFeedAndAutoScanNeedTheirCapability)
{
    OpenSource noFeeder(Source{std::nullopt, {{CAP_AUTOFEED, 0}}});
    // FeederEnabledState is false until a feeder was found enabled: nothing is sent.
    EXPECT_FALSE(noFeeder.twain->SetAutoFeed(true));
    EXPECT_TRUE(noFeeder.sim->capabilityRequests().empty());

    OpenSource unsupported(Source{Caps{CAP_FEEDERENABLED}, {{CAP_FEEDERENABLED, 1}}});
    EXPECT_FALSE(unsupported.twain->SetAutoScan(true));
    ASSERT_TRUE(unsupported.twain->SetFeederEnabled(true));
    EXPECT_FALSE(unsupported.twain->SetAutoFeed(true));
    EXPECT_EQ(unsupported.sim->capabilityRequests(), Log{"get CAP_FEEDERENABLED"});

    OpenSource refused(Source{std::nullopt, {{CAP_AUTOSCAN, 0}}, {}, {CAP_AUTOSCAN}});
    EXPECT_FALSE(refused.twain->SetAutoScan(true));
}

TEST(CapabilityPolicy, PaperCheckCancelsOnlyAnEmptyFeederThatCanBeSeen)
{
    struct Case {
        const char* name;
        Source source;
        bool cancels;
    };
    const Caps withoutDetection = {CAP_FEEDERENABLED, CAP_AUTOFEED, CAP_AUTOSCAN, CAP_FEEDERLOADED};
    const Case cases[] = {
        {"no paper detection",
         {withoutDetection, {{CAP_FEEDERENABLED, 0}, {CAP_FEEDERLOADED, 0}}},
         false},
        {"paper detection reports false",
         {std::nullopt, {{CAP_FEEDERENABLED, 1}, {CAP_FEEDERLOADED, 0}, {CAP_PAPERDETECTABLE, 0}}},
         false},
        {"loaded feeder",
         {std::nullopt, {{CAP_FEEDERENABLED, 0}, {CAP_FEEDERLOADED, 1}, {CAP_PAPERDETECTABLE, 1}}},
         false},
        {"empty feeder",
         {std::nullopt, {{CAP_FEEDERENABLED, 0}, {CAP_FEEDERLOADED, 0}, {CAP_PAPERDETECTABLE, 1}}},
         true},
        {"feeder cannot be enabled",
         {std::nullopt,
          {{CAP_FEEDERENABLED, 0}, {CAP_FEEDERLOADED, 1}, {CAP_PAPERDETECTABLE, 1}},
          {},
          {CAP_FEEDERENABLED}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenSource open(c.source);
        RequestFeeder(*open.twain);
        EXPECT_EQ(PaperCheckCancels(*open.twain), c.cancels);
    }
}

TEST(CapabilityPolicy, AccessorsFailWithoutAnOpenSource)
{
    SimulatedDriver* sim = nullptr;
    auto driver = std::make_unique<SimulatedDriver>();
    sim = driver.get();
    sim->setValue(ICAP_PIXELTYPE, TWPT_RGB);
    sim->setValue(CAP_PAPERDETECTABLE, 1);
    TwainComponent twain(std::move(driver));

    EXPECT_TRUE(twain.IsCapSupported(ICAP_PIXELTYPE)); // no list known
    EXPECT_EQ(twain.GetPixelType(), -1);
    EXPECT_EQ(twain.GetBitDepth(), -1);
    EXPECT_EQ(twain.GetXResolution(), -1.0);
    EXPECT_EQ(twain.GetYResolution(), -1.0);
    EXPECT_FALSE(twain.GetPaperDetectable());
    EXPECT_FALSE(twain.SetFeederEnabled(true));
    EXPECT_TRUE(sim->capabilityRequests().empty());
}

} // namespace
} // namespace pagewren
