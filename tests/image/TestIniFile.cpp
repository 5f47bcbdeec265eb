#include "image/IniFile.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <string>

namespace pagewren::test {
namespace {

using IniFileTest = HomeTest;

TEST_F(IniFileTest, ReadsIntegersByWindowsRules)
{
    struct Case {
        const char* name;
        std::string text;
        int expected; // of dpi_x in bitmap_ext, -1 standing for the default
    };
    const Case cases[] = {
        {"plain", "[bitmap_ext]\ndpi_x=300\n", 300},
        {"names in any case", "[BITMAP_Ext]\nDPI_X=150\n", 150},
        {"blanks around everything", "  [ bitmap_ext ]  \n\t dpi_x \t=  250 \t\n", 250},
        {"Windows line ends", "[bitmap_ext]\r\ndpi_y=1\r\ndpi_x=400\r\n", 400},
        {"byte order mark", "\xEF\xBB\xBF[bitmap_ext]\ndpi_x=96\n", 96},
        {"quoted", "[bitmap_ext]\ndpi_x=\"200\"\n", 200},
        {"signed", "[bitmap_ext]\ndpi_x=+75\n", 75},
        {"negative", "[bitmap_ext]\ndpi_x=-75\n", -75},
        {"first key wins", "[bitmap_ext]\ndpi_x=100\ndpi_x=200\n", 100},
        {"first section only", "[bitmap_ext]\ndpi_y=1\n[other]\n[bitmap_ext]\ndpi_x=5\n", -1},
        {"key in another section", "[other]\ndpi_x=300\n[bitmap_ext]\ndpi_y=300\n", -1},
        {"key before any section", "dpi_x=300\n[bitmap_ext]\n", -1},
        {"commented out", "[bitmap_ext]\n;dpi_x=300\n", -1},
        {"letters", "[bitmap_ext]\ndpi_x=abc\n", -1},
        {"trailing text", "[bitmap_ext]\ndpi_x=300dpi\n", -1},
        {"trailing comment", "[bitmap_ext]\ndpi_x=300 ; scanner\n", -1},
        {"decimal point", "[bitmap_ext]\ndpi_x=300.0\n", -1},
        {"hexadecimal", "[bitmap_ext]\ndpi_x=0x12C\n", -1},
        {"empty", "[bitmap_ext]\ndpi_x=\n", -1},
        {"sign only", "[bitmap_ext]\ndpi_x=-\n", -1},
        {"two signs", "[bitmap_ext]\ndpi_x=+-3\n", -1},
        {"beyond 32 bits", "[bitmap_ext]\ndpi_x=99999999999\n", -1},
        {"no newline at the end", "[bitmap_ext]\ndpi_x=42", 42},
    };
    for (const Case& c : cases) {
        const auto path = home.work() / "res.INI";
        writeFile(path, c.text);
        EXPECT_EQ(IniFile(path.string()).ReadInteger("bitmap_ext", "dpi_x", -1), c.expected)
            << c.name;
    }
}

TEST_F(IniFileTest, OverlongLinesAreCutNotHeld)
{
    const auto path = home.work() / "long.INI";
    writeFile(path, "[bitmap_ext]\n;" + std::string(5'000'000, 'x') +
                        "\ndpi_x=300\ndpi_y=" + std::string(100'000, '7') + "\n");
    const IniFile file(path.string());
    EXPECT_EQ(file.ReadInteger("bitmap_ext", "dpi_x", -1), 300);
    EXPECT_EQ(file.ReadInteger("bitmap_ext", "dpi_y", -1), -1);
}

TEST_F(IniFileTest, MissingFileHasNoValues)
{
    const IniFile file((home.work() / "none.INI").string());
    EXPECT_EQ(file.ReadString("bitmap_ext", "dpi_x"), std::nullopt);
    EXPECT_EQ(file.ReadInteger("bitmap_ext", "dpi_x", 7), 7);
}

} // namespace
} // namespace pagewren::test
