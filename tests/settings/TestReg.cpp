#include "settings/VMKReg.h"

#include "platform/Prompts.h"
#include "platform/SystemEnvironment.h"
#include "platform/XdgFolders.h"
#include "settings/RegistryStore.h"
#include "util/Error.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::writeFile;

class RecordingPrompts final : public Prompts {
public:
    bool confirm(const std::string&, const std::string& text) override
    {
        errors.push_back("unexpected question: " + text);
        return false;
    }
    void warning(const std::string& text) override
    {
        errors.push_back("unexpected warning: " + text);
    }
    void error(const std::string& text) override { errors.push_back(text); }

    std::vector<std::string> errors;
};

class RegTest : public test::HomeTest {
protected:
    SystemEnvironment environment;
    XdgFolders folders{environment};
    RegistryStore store{folders};
    RecordingPrompts prompts;
    TVMKReg reg{store, prompts};
    fs::path file = home.config() / "pagewren" / "registry.reg";

    void writeProductValues(const std::string& lines)
    {
        writeFile(file, "Windows Registry Editor Version 5.00\n\n"
                        "[HKEY_CURRENT_USER\\Software\\Tallowmere\\Pagewren]\n" +
                            lines + "\n");
    }
    void storeText(const std::string& name, const std::string& text)
    {
        TRegValue value;
        value.StrValue = text;
        reg.SetValue(name, value);
    }
    // The type and bytes stored under the product key; None and "<missing>" when there are none.
    std::pair<RegType, std::string> stored(const std::string& name)
    {
        RegKey key{};
        RegType type = RegType::None;
        std::string data = "<missing>";
        if (store.openKey(RegKey::CurrentUser, ProductKey, RegAccess::QueryValue, key) ==
            RegResult::Success) {
            store.queryValue(key, name, type, data);
            store.closeKey(key);
        }
        return {type, data};
    }
};

TEST_F(RegTest, FirstRunReadsDefaultsAndTheFirstWriteMakesTheKeys)
{
    EXPECT_EQ(reg.GetInt("util_Left", 200), 200);
    EXPECT_EQ(reg.GetString("util_Top", " 7 "), "7");
    EXPECT_FALSE(fs::exists(file));

    TRegValue value;
    IntRegValue(120, value);
    reg.SetValue("util_Left", value);
    EXPECT_EQ(reg.GetInt("util_Left", 200), 120);
    for (const char* path : {"Software", "Software\\Tallowmere", ProductKey}) {
        RegKey key{};
        EXPECT_EQ(store.openKey(RegKey::CurrentUser, path, RegAccess::QueryValue, key),
                  RegResult::Success)
            << path;
        store.closeKey(key);
    }
    EXPECT_TRUE(prompts.errors.empty());
}

TEST_F(RegTest, GetIntConvertsStoredText)
{
    struct Case {
        std::string text;
        std::int32_t value;
    };
    const std::int32_t Default = 77;
    const Case cases[] = {
        {"120", 120},
        {" 120 ", 120},
        {"\t120\r\n", 120},
        {"$78", 120},
        {"x78", 120},
        {"X78", 120},
        {"0x78", 120},
        {"0X7f", 127},
        {"+7", 7},
        {"-5", -5},
        {"-$10", -16},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"$7FFFFFFF", INT_MAX},
        {"-$80000000", INT_MIN},
        {"abc", Default},
        {"1.5", Default},
        {"", Default},
        {"   ", Default},
        {"-", Default},
        {"$", Default},
        {"0x", Default},
        {"12a", Default},
        {"1 2", Default},
        {"$1g", Default},
        {"+-1", Default},
        {"2147483648", Default},
        {"-2147483649", Default},
        {"$80000000", Default},
        {"$FFFFFFFF", Default},
        {"99999999999999999999", Default},
    };
    for (const auto& c : cases) {
        storeText("util_Left", c.text);
        EXPECT_EQ(reg.GetInt("util_Left", Default), c.value) << '"' << c.text << '"';
    }
    EXPECT_TRUE(prompts.errors.empty());
}

TEST_F(RegTest, ReadsEveryKindOfValueInAHandWrittenFile)
{
    struct Case {
        const char* line;
        RegData data;
        std::int32_t integer;
    };
    const std::int32_t Default = 77;
    const Case cases[] = {
        {R"("v"="120")", "120"s, 120},
        {R"("v"=" 120 ")", " 120 "s, 120},
        {R"("v"="  ")", "  "s, Default},
        {R"("v"=hex(1):31,00,32,00,30,00,00,00)", "120\0"s, 120},
        {R"("v"=dword:00000078)", 120, 120},
        {R"("v"=dword:ffffffff)", -1, -1},
        {R"("v"=hex:78,00,00,00)", 120, 120},
        {R"("v"=hex:fb,ff,ff,ff,01)", -5, -5},
        {R"("v"=hex:78)", 120, 120},
        {R"("v"=hex:)", 0, 0},
        {R"("v"=hex(4):78,00)", 120, 120},
        {R"("v"=hex(2):31,00,32,00,30,00,00,00)", ""s, Default},
        {R"("v"=hex(7):31,00,32,00,30,00,00,00,00,00)", ""s, Default},
        {R"("v"=hex(b):78,00,00,00,00,00,00,00)", ""s, Default},
        {R"("other"="120")", ""s, Default},
    };
    for (const auto& c : cases) {
        writeProductValues(c.line);
        RegData data = "not read"s;
        reg.RegReadValue(ProductKey, "v", RegKey::CurrentUser, data);
        EXPECT_EQ(data, c.data) << c.line;
        EXPECT_EQ(reg.GetInt("v", Default), c.integer) << c.line;
    }
    EXPECT_TRUE(prompts.errors.empty());
}

TEST_F(RegTest, RegGetTrimsTheValueAndTheDefault)
{
    writeProductValues("\"blank\"=\"  \"\n\"padded\"=\" x\\t\"\n\"nul\"=hex(1):78,00,00,00");
    EXPECT_EQ(reg.RegGet(ProductKey, "padded", "d", RegKey::CurrentUser), "x\\t");
    EXPECT_EQ(reg.RegGet(ProductKey, "nul", "d", RegKey::CurrentUser), "x");
    EXPECT_EQ(reg.RegGet(ProductKey, "blank", " d\t", RegKey::CurrentUser), "d");
    EXPECT_EQ(reg.RegGet(ProductKey, "missing", " d\t", RegKey::CurrentUser), "d");
    EXPECT_EQ(reg.RegGet("Software\\Nowhere", "padded", "\r\n", RegKey::CurrentUser), "");
}

TEST_F(RegTest, SetValueWritesEachKindAsText)
{
    struct Case {
        const char* what;
        TRegValue value;
        std::string text;
    };
    const Case cases[] = {
        {"text", {0, 0, "left side", 0, false}, "left side"},
        {"integer -5 in two bytes", {1, -5, "ignored", 0, true}, "-5"},
        {"smallest integer", {1, INT_MIN, "", 0, false}, "-2147483648"},
        {"true", {3, 0, "", 0, true}, "true"},
        {"false", {3, 1, "", 0, false}, "false"},
        {"float", {2, 0, "", 1.5L, false}, "1.5"},
    };
    for (const auto& c : cases) {
        reg.SetValue("v", c.value);
        EXPECT_EQ(stored("v"), std::make_pair(RegType::Sz, c.text)) << c.what;
    }

    TRegValue unknown;
    unknown.ValueType = 7;
    unknown.StrValue = "never";
    reg.SetValue("unknown", unknown);
    EXPECT_EQ(stored("unknown").second, "<missing>");
}

TEST_F(RegTest, FloatsAreWrittenWithFifteenSignificantDigits)
{
    const std::string point = QLocale::system().decimalPoint().toStdString();
    const auto localised = [&](std::string text) {
        if (const auto dot = text.find('.'); dot != std::string::npos)
            text.replace(dot, 1, point);
        return text;
    };
    struct Case {
        long double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0L, "0"},
        {100.0L, "100"},
        {-2.5L, "-2.5"},
        {0.1L, "0.1"},
        {1.0L / 3, "0.333333333333333"},
        {2.0L / 3, "0.666666666666667"},
        {0.00001L, "0.00001"},
        {0.000001L, "1E-6"},
        {-0.0000015L, "-1.5E-6"},
        {123456789012345.0L, "123456789012345"},
        {1e15L, "1E15"},
        {1.5e20L, "1.5E20"},
        {9.999999999999999e14L, "1E15"},
    };
    for (const auto& c : cases) {
        TRegValue value;
        value.ValueType = 2;
        value.FloatValue = c.value;
        reg.SetValue("f", value);
        EXPECT_EQ(stored("f").second, localised(c.text)) << c.text;
    }
}

TEST_F(RegTest, IntRegValueLeavesTheOtherFields)
{
    TRegValue value{0, 3, "keep", 2.5L, true};
    IntRegValue(-9, value);
    EXPECT_EQ(value.ValueType, 1);
    EXPECT_EQ(value.IntValue, -9);
    EXPECT_EQ(value.StrValue, "keep");
    EXPECT_EQ(value.FloatValue, 2.5L);
    EXPECT_TRUE(value.BoolValue);
}

TEST_F(RegTest, ConvertRootKeyNamesOnlyTheRoots)
{
    const std::pair<RegKey, const char*> roots[] = {
        {RegKey::ClassesRoot, "HKEY_CLASSES_ROOT"},
        {RegKey::CurrentUser, "HKEY_CURRENT_USER"},
        {RegKey::LocalMachine, "HKEY_LOCAL_MACHINE"},
        {RegKey::Users, "HKEY_USERS"},
        {RegKey::PerformanceData, "HKEY_PERFORMANCE_DATA"},
        {RegKey::CurrentConfig, "HKEY_CURRENT_CONFIG"},
        {RegKey::DynData, "HKEY_DYN_DATA"},
    };
    for (const auto& [root, name] : roots)
        EXPECT_EQ(reg.ConvertRootKey(root), name);

    RegKey opened{};
    ASSERT_EQ(store.createKey(RegKey::CurrentUser, ProductKey, 0x3F, opened), RegResult::Success);
    EXPECT_EQ(reg.ConvertRootKey(opened), "");
    store.closeKey(opened);
}

TEST_F(RegTest, WritesTheUserMayNotMakeStoreNothingAndShowNothing)
{
    reg.RegSet("Software\\Vendor", "a", "1", RegKey::LocalMachine);
    reg.RegCreateNewKey("Software\\Vendor", "a", "1", RegKey::Users);
    EXPECT_EQ(reg.RegGet("Software\\Vendor", "a", "none", RegKey::LocalMachine), "none");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(prompts.errors.empty());

    reg.ShowRegError("Reg:Test");
    EXPECT_EQ(prompts.errors, std::vector<std::string>{"Reg:Test"});
}

// A registry that fails with an exception in one chosen call; counts the keys it has open.
class FailingRegistry final : public Registry {
public:
    explicit FailingRegistry(std::string failingCall) : m_failingCall(std::move(failingCall)) {}

    RegResult openKey(RegKey, const std::string&, std::uint32_t, RegKey& key) override
    {
        return open("open", key);
    }
    RegResult createKey(RegKey, const std::string&, std::uint32_t, RegKey& key) override
    {
        return open("create", key);
    }
    RegResult queryValue(RegKey, const std::string&, RegType& type, std::string& data) override
    {
        failIf("query");
        type = RegType::Sz;
        data = "12";
        return RegResult::Success;
    }
    RegResult setValue(RegKey, const std::string&, RegType, const std::string&) override
    {
        failIf("set");
        return RegResult::Success;
    }
    RegResult closeKey(RegKey) override
    {
        --openKeys;
        return RegResult::Success;
    }

    int openKeys = 0;

private:
    void failIf(const char* call)
    {
        if (m_failingCall == call)
            throw Error("disk on fire");
    }
    RegResult open(const char* call, RegKey& key)
    {
        failIf(call);
        ++openKeys;
        key = static_cast<RegKey>(1);
        return RegResult::Success;
    }
    std::string m_failingCall;
};

TEST(Reg, ExceptionsInsideAnOperationAreShownAndRaisedAgain)
{
    struct Case {
        const char* what;
        const char* failingCall;
        std::function<void(TVMKReg&)> call;
        std::string thrown; // "" when nothing may leave the call
        std::vector<std::string> boxes;
    };
    const auto product = [](TVMKReg& reg, RegData& data) {
        reg.RegReadValue(ProductKey, "v", RegKey::CurrentUser, data);
    };
    const Case cases[] = {
        {"RegReadValue, open",
         "open",
         [&](TVMKReg& r) {
             RegData d;
             product(r, d);
         },
         "disk on fire",
         {"Reg:RegReadValue"}},
        {"RegReadValue, query",
         "query",
         [&](TVMKReg& r) {
             RegData d;
             product(r, d);
         },
         "disk on fire",
         {"Reg:RegReadValue"}},
        {"RegGet",
         "query",
         [](TVMKReg& r) { r.RegGet(ProductKey, "v", "d", RegKey::CurrentUser); },
         "Reg:RegGet",
         {"Reg:RegReadValue"}},
        {"GetString",
         "query",
         [](TVMKReg& r) { r.GetString("v", "d"); },
         "Reg:RegGet",
         {"Reg:RegReadValue"}},
        {"GetInt",
         "query",
         [](TVMKReg& r) { EXPECT_EQ(r.GetInt("v", 5), 5); },
         "",
         {"Reg:RegReadValue"}},
        {"RegCreateNewKey, create",
         "create",
         [](TVMKReg& r) { r.RegCreateNewKey(ProductKey, "v", "1", RegKey::CurrentUser); },
         "disk on fire",
         {"Reg:RegCreateNewKey"}},
        {"RegCreateNewKey, set",
         "set",
         [](TVMKReg& r) { r.RegCreateNewKey(ProductKey, "v", "1", RegKey::CurrentUser); },
         "disk on fire",
         {"Reg:RegCreateNewKey"}},
        {"RegSet",
         "set",
         [](TVMKReg& r) { r.RegSet(ProductKey, "v", "1", RegKey::CurrentUser); },
         "disk on fire",
         {"Reg:RegCreateNewKey", "Reg:RegSet"}},
        {"SetValue",
         "set",
         [](TVMKReg& r) {
             TRegValue v;
             IntRegValue(1, v);
             r.SetValue("v", v);
         },
         "disk on fire",
         {"Reg:RegCreateNewKey", "Reg:RegSet"}},
    };
    for (const auto& c : cases) {
        FailingRegistry registry(c.failingCall);
        RecordingPrompts prompts;
        TVMKReg reg(registry, prompts);
        std::string thrown;
        try {
            c.call(reg);
        } catch (const Error& error) {
            thrown = error.what();
        }
        EXPECT_EQ(thrown, c.thrown) << c.what;
        EXPECT_EQ(prompts.errors, c.boxes) << c.what;
        EXPECT_EQ(registry.openKeys, 0) << c.what << ": a key was left open";
    }

    // Without failures the same registry serves values.
    FailingRegistry registry("none");
    RecordingPrompts prompts;
    TVMKReg reg(registry, prompts);
    EXPECT_EQ(reg.GetInt("v", 5), 12);
    EXPECT_TRUE(prompts.errors.empty());
}

} // namespace
} // namespace pagewren
