#include "util/StrUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace pagewren {
namespace {

TEST(StrUtil, SameTrimmed)
{
    using namespace std::string_literals;
    struct Case {
        std::string a, b;
        bool same;
    };
    const Case cases[] = {
        {" 1 ", "1", true},
        {"1\r\n", "1", true},
        {"\t\x01"
         "1\0"s,
         "1", true},
        {"", "   ", true},
        {"01", "1", false},
        {"TRUE", "true", false},
        {"", "1", false},
        {"1 1", "11", false},
        {"\xa0"
         "1",
         "1", false}, // only codes up to 32 are blanks
    };
    for (const auto& c : cases)
        EXPECT_EQ(SameTrimmed(c.a, c.b), c.same) << '"' << c.a << "\" vs \"" << c.b << '"';
}

TEST(StrUtil, ChooseText)
{
    EXPECT_EQ(ChooseText(false, "1", "0"), "0");
    EXPECT_EQ(ChooseText(true, "true", "false"), "true");
}

TEST(StrUtil, TrimBlanksKeepsInnerText)
{
    EXPECT_EQ(TrimBlanks("  a b\n"), "a b");
    EXPECT_EQ(TrimBlanks("\x1f\x20"), "");
}

} // namespace
} // namespace pagewren
