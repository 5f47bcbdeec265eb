#include "settings/RegFile.h"

#include "util/Error.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pagewren {
namespace {

using namespace std::string_literals;

const RegFile::Path Product = {"Software", "Tallowmere", "Pagewren"};

std::string regFile(const std::string& body)
{
    return "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Tallowmere\\"
           "Pagewren]\n" +
           body;
}

TEST(RegFile, ReadsEveryKindOfData)
{
    struct Case {
        const char* line;
        RegType type;
        std::string data;
    };
    const Case cases[] = {
        {R"("v"="120")", RegType::Sz, "120"},
        {R"("v"="")", RegType::Sz, ""},
        {R"("v"="C:\\Temp \"x\"")", RegType::Sz, R"(C:\Temp "x")"},
        {R"("v"="C:\Temp")", RegType::Sz, R"(C:\Temp)"},
        {"\"v\"=\"J\xc3\xbcrgen\"", RegType::Sz, "J\xc3\xbcrgen"},
        {R"("v"=dword:00000078)", RegType::Dword, "\x78\0\0\0"s},
        {R"("v"=dword:FFFFFFFB)", RegType::Dword, "\xfb\xff\xff\xff"},
        {R"("v"=dword:7)", RegType::Dword, "\x07\0\0\0"s},
        {R"("v"=hex:78,00,00,00)", RegType::Binary, "\x78\0\0\0"s},
        {R"("v"=hex:)", RegType::Binary, ""},
        {R"("v"=hex(2):31,00,32,00,30,00,00,00)", RegType::ExpandSz, "120\0"s},
        {R"("v"=hex(7):61,00,00,00,62,00,00,00,00,00)", RegType::MultiSz, "a\0b\0\0"s},
        {R"("v"=hex(1):31,00,32,00,30,00,00,00)", RegType::Sz, "120\0"s},
        {R"("v"=hex(1):3d,d8,c4,dc)", RegType::Sz, "\xf0\x9f\x93\x84"},
        {R"("v"=hex(b):01,02,03,04,05,06,07,08)", RegType::Qword, "\1\2\3\4\5\6\7\x08"},
        {R"("v"=hex(0):)", RegType::None, ""},
        {"\"v\"=hex:01,02,\\\n  03,04", RegType::Binary, "\1\2\3\4"},
        {"\"v\" = \"spaced\"", RegType::Sz, "spaced"},
        {"\"v\"=\"old\"\n\"V\"=\"later wins\"", RegType::Sz, "later wins"},
    };
    for (const auto& c : cases) {
        const RegFile file = RegFile::parse(regFile(c.line));
        const RegFile::Value* value = file.findValue(RegKey::CurrentUser, Product, "v");
        ASSERT_NE(value, nullptr) << c.line;
        EXPECT_EQ(value->type, c.type) << c.line;
        EXPECT_EQ(value->data, c.data) << c.line;
    }
}

TEST(RegFile, ReadsTheFileLayoutsRegeditAndEditorsProduce)
{
    const std::string body = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "; written by hand\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Tallowmere\\Pagewren\\Dialog]\r\n"
                             "@=\"default\"\r\n"
                             "\"Gone\"=\"x\"\r\n"
                             "\"gone\"=-\r\n"
                             "[hkey_current_user\\SOFTWARE\\Other]\r\n"
                             "\"a\"=\"1\"\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\Other]\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
                             "\"machine\"=\"1\"\r\n";
    for (const std::string& bytes : {body, "\xEF\xBB\xBF" + body}) {
        const RegFile file = RegFile::parse(bytes);
        const RegFile::Path dialog = {"software", "TALLOWMERE", "Pagewren", "dialog"};
        EXPECT_TRUE(file.hasKey(RegKey::CurrentUser, {"Software", "Tallowmere"}));
        ASSERT_NE(file.findValue(RegKey::CurrentUser, dialog, ""), nullptr);
        EXPECT_EQ(file.findValue(RegKey::CurrentUser, dialog, "")->data, "default");
        EXPECT_EQ(file.findValue(RegKey::CurrentUser, dialog, "Gone"), nullptr);
        EXPECT_FALSE(file.hasKey(RegKey::CurrentUser, {"Software", "Other"}));
        EXPECT_TRUE(file.hasKey(RegKey::LocalMachine, {"Software", "Vendor"}));
        // Keys of the other roots are kept, not lost, when the file is written again.
        EXPECT_NE(file.toText().find("[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n\"machine\"=\"1\""),
                  std::string::npos);
    }
}

TEST(RegFile, ReadsRegeditsUtf16Export)
{
    test::TestHome home;
    test::writeFile(home.work() / "utf8.reg", regFile("\"v\"=\"J\xc3\xbcrgen\"\r\n"));
    ASSERT_EQ(test::runCommand("iconv -f UTF-8 -t UTF-16 utf8.reg > utf16.reg"), 0);
    const RegFile file = RegFile::parse(test::readFile(home.work() / "utf16.reg"));
    ASSERT_NE(file.findValue(RegKey::CurrentUser, Product, "v"), nullptr);
    EXPECT_EQ(file.findValue(RegKey::CurrentUser, Product, "v")->data, "J\xc3\xbcrgen");
}

TEST(RegFile, RejectsWhatIsNotInTheFormat)
{
    const std::string header = "Windows Registry Editor Version 5.00\n";
    const std::string key = header + "[HKEY_CURRENT_USER\\Software]\n";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"no header", "[HKEY_CURRENT_USER\\Software]\n\"a\"=\"1\"\n"},
        {"old header", "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n"},
        {"value before a key", header + "\"a\"=\"1\"\n"},
        {"value after a removed key", header + "[-HKEY_CURRENT_USER\\Software]\n\"a\"=\"1\"\n"},
        {"unknown root", header + "[HKEY_NOWHERE\\Software]\n"},
        {"empty key name part", header + "[HKEY_CURRENT_USER\\Software\\\\Tallowmere]\n"},
        {"unclosed key", header + "[HKEY_CURRENT_USER\\Software\n"},
        {"unterminated text", key + "\"a\"=\"1\n"},
        {"text after the quotes", key + "\"a\"=\"1\" 2\n"},
        {"no equals sign", key + "\"a\" \"1\"\n"},
        {"dword too long", key + "\"a\"=dword:000000001\n"},
        {"dword not hexadecimal", key + "\"a\"=dword:0000007g\n"},
        {"byte of three digits", key + "\"a\"=hex:100\n"},
        {"trailing comma", key + "\"a\"=hex:01,\n"},
        {"unknown data", key + "\"a\"=text:1\n"},
        {"stray line", key + "a=1\n"},
        {"not UTF-8", key + "\"a\"=\"J\xfcrgen\"\n"},
    };
    for (const auto& [what, text] : cases)
        EXPECT_THROW(RegFile::parse(text), Error) << what;
    EXPECT_NO_THROW(RegFile::parse(" \n\n")) << "blank file";
}

TEST(RegFile, WritesRegeditLayout)
{
    RegFile file;
    file.setValue(RegKey::CurrentUser, Product, {"util_Left", RegType::Sz, "-5"});
    file.setValue(RegKey::CurrentUser, Product, {"", RegType::Sz, R"(C:\ "q")"});
    file.setValue(RegKey::CurrentUser, Product, {"lines", RegType::Sz, "a\nb"});
    file.setValue(RegKey::CurrentUser, Product, {"count", RegType::Dword, "\x78\0\0\0"s});
    file.setValue(RegKey::CurrentUser, Product, {"path", RegType::ExpandSz, "%T%"});
    file.setValue(RegKey::CurrentUser, Product, {"odd", RegType::Dword, "\1"});
    file.setValue(RegKey::CurrentUser, Product, {"big", RegType::Qword, "\1\2\3\4\5\6\7\x08"});
    file.setValue(RegKey::CurrentUser, {"Software", "A"},
                  {"bytes", RegType::Binary, std::string(30, '\xab')});
    const std::string expected =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software]\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\A]\n"
        "\"bytes\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\n"
        "  ab,ab,ab,ab,ab,ab,ab,ab\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Tallowmere]\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Tallowmere\\Pagewren]\n"
        "\"util_Left\"=\"-5\"\n"
        "@=\"C:\\\\ \\\"q\\\"\"\n"
        "\"lines\"=hex(1):61,00,0a,00,62,00\n"
        "\"count\"=dword:00000078\n"
        "\"path\"=hex(2):25,00,54,00,25,00\n"
        "\"odd\"=hex(4):01\n"
        "\"big\"=hex(b):01,02,03,04,05,06,07,08\n"
        "\n";
    EXPECT_EQ(file.toText(), expected);

    const RegFile again = RegFile::parse(file.toText());
    EXPECT_EQ(again.toText(), expected);
    for (const char* name : {"util_Left", "", "lines", "count", "path", "odd", "big"}) {
        const auto* before = file.findValue(RegKey::CurrentUser, Product, name);
        const auto* after = again.findValue(RegKey::CurrentUser, Product, name);
        ASSERT_NE(after, nullptr) << name;
        EXPECT_EQ(after->type, before->type) << name;
        EXPECT_EQ(after->data, before->data) << name;
    }
}

TEST(RegFile, ReportsWhetherAnythingChanged)
{
    RegFile file;
    EXPECT_TRUE(file.addKey(RegKey::CurrentUser, Product));
    EXPECT_FALSE(file.addKey(RegKey::CurrentUser, {"SOFTWARE", "tallowmere"}));
    EXPECT_TRUE(file.setValue(RegKey::CurrentUser, Product, {"a", RegType::Sz, "1"}));
    EXPECT_FALSE(file.setValue(RegKey::CurrentUser, Product, {"A", RegType::Sz, "1"}));
    EXPECT_TRUE(file.setValue(RegKey::CurrentUser, Product, {"a", RegType::ExpandSz, "1"}));
    EXPECT_TRUE(file.setValue(RegKey::CurrentUser, Product, {"a", RegType::ExpandSz, "2"}));
}

} // namespace
} // namespace pagewren
