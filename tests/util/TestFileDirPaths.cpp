#include "util/FileDir.h"

#include "FakePlatform.h"
#include "util/Error.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace pagewren {
namespace {

using test::FakePlatform;

// Name operations in both styles. The Windows rows are the rules the program was written to;
// the native rows show the same rules with "/" and no drive letters.
TEST(FileDirPaths, NameOperations)
{
    struct Case {
        PathStyle style;
        const char* what;
        std::function<std::string(CFileDir&)> call;
        std::string expected;
    };
    constexpr auto W = PathStyle::Windows;
    constexpr auto N = PathStyle::Native;
    const Case cases[] = {
        // Only the style's separator counts as a trailing one.
        {W, "trailing \\ on empty", [](CFileDir& d) { return d.EnsureTrailingBackslash(""); },
         "\\"},
        {W, "trailing \\ added",
         [](CFileDir& d) { return d.EnsureTrailingBackslash(R"(C:\Scans)"); }, R"(C:\Scans\)"},
        {W, "trailing \\ kept",
         [](CFileDir& d) { return d.EnsureTrailingBackslash(R"(C:\Scans\)"); }, R"(C:\Scans\)"},
        {W, "slash is no separator",
         [](CFileDir& d) { return d.EnsureTrailingBackslash(R"(C:\Scans/)"); }, R"(C:\Scans/\)"},
        {N, "trailing / added", [](CFileDir& d) { return d.EnsureTrailingBackslash("/scans"); },
         "/scans/"},
        {N, "backslash is no separator",
         [](CFileDir& d) { return d.EnsureTrailingBackslash("/scans\\"); }, "/scans\\/"},
        // Both tests of EnsurePrefixSuffix look at the text as given.
        {W, "suffix present, prefix missing",
         [](CFileDir& d) { return d.EnsurePrefixSuffix("abc", "x", "c"); }, "xabc"},
        {W, "prefix present, suffix missing",
         [](CFileDir& d) { return d.EnsurePrefixSuffix("xab", "x", "c"); }, "xabc"},
        {W, "left beyond the end", [](CFileDir& d) { return d.LeftText("abc", 5); }, "abc"},
        {W, "right part", [](CFileDir& d) { return d.RightText("abc", 2); }, "bc"},
        {W, "right of nothing", [](CFileDir& d) { return d.RightText("abc", 0); }, ""},
        // File names and extensions.
        {W, "file name",
         [](CFileDir& d) { return d.ucExtractFileName(R"(C:\Scans\img_3.tif)", false); },
         "img_3.tif"},
        {W, "file name without extension",
         [](CFileDir& d) { return d.ucExtractFileName(R"(C:\Scans\img_3.tif)", true); }, "img_3"},
        {W, "drive colon ends the folder",
         [](CFileDir& d) { return d.ucExtractFileName("C:img.tif", false); }, "img.tif"},
        {W, "only the last extension goes",
         [](CFileDir& d) { return d.ucExtractFileName(R"(C:\a.b.tif)", true); }, "a.b"},
        {W, "a name that is only an extension",
         [](CFileDir& d) { return d.ucExtractFileName(R"(C:\Scans\.tif)", true); }, ""},
        {N, "colon is an ordinary character",
         [](CFileDir& d) { return d.ucExtractFileName("/scans/C:img.tif", false); }, "C:img.tif"},
        {W, "insert into a name without extension",
         [](CFileDir& d) { return d.InsertBeforeExt(R"(C:\Scans\page)", "_COMPRESSED"); },
         R"(C:\Scans\page_COMPRESSED)"},
        {W, "insert before the last extension",
         [](CFileDir& d) { return d.InsertBeforeExt(R"(C:\Scans\a.b.tif)", "_COMPRESSED"); },
         R"(C:\Scans\a.b_COMPRESSED.tif)"},
        {W, "a dot in a folder is no extension",
         [](CFileDir& d) { return d.InsertBeforeExt(R"(C:\Scan.s\page)", "_COMPRESSED"); },
         R"(C:\Scan.s\page_COMPRESSED)"},
        {W, "insert before a bare extension",
         [](CFileDir& d) { return d.InsertBeforeExt(R"(C:\Scans\.tif)", "_COMPRESSED"); },
         R"(C:\Scans\_COMPRESSED.tif)"},
        {N, "native dot in a folder is no extension",
         [](CFileDir& d) { return d.InsertBeforeExt("/scan.s/page", "_COMPRESSED"); },
         "/scan.s/page_COMPRESSED"},
        {W, "new extension with dot",
         [](CFileDir& d) { return d.ChangeExt(R"(C:\Scans\job\img_3.tif)", ".jpg"); },
         R"(C:\Scans\job\img_3.jpg)"},
        {W, "new extension without dot",
         [](CFileDir& d) { return d.ChangeExt(R"(C:\Scans\job\img_3.tif)", "jpg"); },
         R"(C:\Scans\job\img_3.jpg)"},
        {W, "new extension keeps its case",
         [](CFileDir& d) { return d.ChangeExt(R"(C:\Scans\job\img_3_COMPRESSED.tif)", "JPG"); },
         R"(C:\Scans\job\img_3_COMPRESSED.JPG)"},
        {W, "extension added to a name without one",
         [](CFileDir& d) { return d.ChangeExt(R"(C:\Scan.s\page)", "JPG"); },
         R"(C:\Scan.s\page.JPG)"},
        {N, "empty extension removes it",
         [](CFileDir& d) { return d.ChangeExt("/scans/img_3.tif", ""); }, "/scans/img_3"},
        // The program's folder and names placed in it.
        {W, "program folder", [](CFileDir& d) { return d.GetAppPath(); },
         R"(C:\Program Files\Pagewren\)"},
        {N, "native program folder", [](CFileDir& d) { return d.GetAppPath(); },
         "/opt/pagewren/bin/"},
        {W, "bare name goes into the program folder",
         [](CFileDir& d) { return d.AddPath("page.tif"); },
         R"(C:\Program Files\Pagewren\page.tif)"},
        {W, "full pattern unchanged", [](CFileDir& d) { return d.AddPath(R"(C:\Scans\*.tif)"); },
         R"(C:\Scans\*.tif)"},
        {W, "drive-relative name unchanged", [](CFileDir& d) { return d.AddPath("C:page.tif"); },
         "C:page.tif"},
        {W, "empty name", [](CFileDir& d) { return d.AddPath(""); }, ""},
        {W, "dot is the program folder", [](CFileDir& d) { return d.AddPath("."); },
         R"(C:\Program Files\Pagewren\)"},
        {W, "dot-relative name", [](CFileDir& d) { return d.AddPath(R"(.\help\x.htm)"); },
         R"(C:\Program Files\Pagewren\help\x.htm)"},
        {W, "parent-relative name", [](CFileDir& d) { return d.AddPath(R"(..\data\x.txt)"); },
         R"(C:\Program Files\data\x.txt)"},
        {W, "hidden-style bare name", [](CFileDir& d) { return d.AddPath(".pagewrenrc"); },
         R"(C:\Program Files\Pagewren\.pagewrenrc)"},
        {N, "native bare name", [](CFileDir& d) { return d.AddPath("page.tif"); },
         "/opt/pagewren/bin/page.tif"},
        {N, "native parent-relative name", [](CFileDir& d) { return d.AddPath("../share/x"); },
         "/opt/pagewren/share/x"},
        {N, "native relative folder unchanged", [](CFileDir& d) { return d.AddPath("job/x.tif"); },
         "job/x.tif"},
        // ".." steps resolved against a folder.
        {W, "two steps up",
         [](CFileDir& d) { return d.RelativePath(R"(C:\a\b\c\)", R"(..\..\x\y.txt)"); },
         R"(C:\a\x\y.txt)"},
        {W, "no folder kept with two pieces",
         [](CFileDir& d) { return d.RelativePath(R"(C:\a\)", R"(..\x.txt)"); }, R"(C:\x.txt)"},
        {W, "more steps than folders stop at the drive",
         [](CFileDir& d) { return d.RelativePath(R"(C:\a\b\)", R"(..\..\..\x)"); }, R"(C:\x)"},
        {W, "network path keeps its server",
         [](CFileDir& d) { return d.RelativePath(R"(\\srv\share\a\)", R"(..\x)"); },
         R"(\\srv\share\x)"},
        {N, "native two steps up",
         [](CFileDir& d) { return d.RelativePath("/a/b/c/", "../../x/y.txt"); }, "/a/x/y.txt"},
        {N, "native one folder below the root",
         [](CFileDir& d) { return d.RelativePath("/a/", "../x.txt"); }, "/x.txt"},
        {N, "native root", [](CFileDir& d) { return d.RelativePath("/", "../x"); }, "/x"},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        if (c.style == W)
            fake.program.path = R"(C:\Program Files\Pagewren\Pagewren.exe)";
        CFileDir dir(c.style, fake.platform);
        EXPECT_EQ(c.call(dir), c.expected) << c.what;
    }
}

TEST(FileDirPaths, SubstringHelpers)
{
    struct Case {
        const char* what;
        std::function<int(CFileDir&)> call;
        int expected;
    };
    const Case cases[] = {
        {"first match", [](CFileDir& d) { return d.ucPos("a.b.c", ".", 1, true); }, 2},
        {"match at the start position", [](CFileDir& d) { return d.ucPos("a.b.c", ".", 4, true); },
         4},
        {"no match after the start", [](CFileDir& d) { return d.ucPos("a.b.c", ".", 5, true); }, 0},
        {"start beyond the end", [](CFileDir& d) { return d.ucPos("a.b.c", ".", 9, true); }, 0},
        {"start 0 searches from the start",
         [](CFileDir& d) { return d.ucPos("a.b", ".", 0, true); }, 2},
        {"partial match at the end", [](CFileDir& d) { return d.ucPos("abc", "cd", 1, true); }, 0},
        {"ignoring case", [](CFileDir& d) { return d.ucPos("xABC", "bc", 1, false); }, 3},
        {"respecting case", [](CFileDir& d) { return d.ucPos("xABC", "bc", 1, true); }, 0},
        {"only a-z fold", [](CFileDir& d) { return d.ucPos("\xc3\xa9", "\xc3\x89", 1, false); }, 0},
        {"nothing to find", [](CFileDir& d) { return d.ucPos("abc", "", 1, true); }, 0},
        {"last dot", [](CFileDir& d) { return d.PosRev("a.b.c", ".", 9999, true); }, 4},
        {"backwards from a position", [](CFileDir& d) { return d.PosRev("a.b.c", ".", 3, true); },
         2},
        {"nothing before the start", [](CFileDir& d) { return d.PosRev("a.b.c", ".", 1, true); },
         0},
        {"last step up", [](CFileDir& d) { return d.PosRev(R"(..\..\x)", "..", 0, false); }, 4},
        {"overlapping occurrences", [](CFileDir& d) { return d.CountWord("...", "..", 1, true); },
         2},
        {"steps up", [](CFileDir& d) { return d.CountWord(R"(..\..\x)", "..", 1, true); }, 2},
        {"match on the last character",
         [](CFileDir& d) { return d.CountWord("a.b.", ".", 1, true); }, 2},
        {"count from a position", [](CFileDir& d) { return d.CountWord("a.b.c", ".", 3, true); },
         1},
        {"start 0 counts nothing", [](CFileDir& d) { return d.CountWord("a.b", ".", 0, true); }, 0},
        {"count ignoring case", [](CFileDir& d) { return d.CountWord("aAa", "a", 1, false); }, 3},
    };
    FakePlatform fake;
    CFileDir dir(PathStyle::Windows, fake.platform);
    for (const auto& c : cases)
        EXPECT_EQ(c.call(dir), c.expected) << c.what;

    EXPECT_EQ(dir.CompareWithCase("abc", "ABC", false), 0);
    EXPECT_GT(dir.CompareWithCase("abc", "ABC", true), 0);
    EXPECT_LT(dir.CompareWithCase("ab", "abc", true), 0);
    EXPECT_LT(dir.CompareWithCase("a", "\xc3\xa9", true), 0); // bytes compare unsigned
}

TEST(FileDirPaths, SplitToList)
{
    struct Case {
        std::string text;
        char delimiter;
        bool trim;
        StringList expected;
    };
    const Case cases[] = {
        {R"(C:\a\b\c\)", '\\', false, {"C:", "a", "b", "c"}},
        // A leading delimiter is not a separator, so "\\srv" begins with the piece "\".
        {R"(\\srv\share\)", '\\', false, {"\\", "srv", "share"}},
        {"a,,b", ',', false, {"a", "b"}},
        {" a , b ,\t", ',', false, {" a ", " b ", "\t"}},
        {" a , b ,\t", ',', true, {"a", "b"}},
        {"", ',', false, {}},
    };
    FakePlatform fake;
    CFileDir dir(PathStyle::Windows, fake.platform);
    for (const auto& c : cases) {
        StringList pieces{"kept"};
        dir.SplitToList(c.text, c.delimiter, pieces, c.trim);
        StringList expected{"kept"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(pieces, expected) << '"' << c.text << '"';
    }
}

// Records what a guarded operation hands to OnError.
class GuardedTest : public ::testing::Test {
protected:
    GuardedTest()
    {
        dir.OnError = [this](CFileDir& sender, const std::exception& error,
                             const std::string& text) {
            EXPECT_EQ(&sender, &dir);
            texts.push_back(text);
            messages.push_back(error.what());
        };
    }

    FakePlatform fake;
    CFileDir dir{PathStyle::Windows, fake.platform};
    std::vector<std::string> texts;
    std::vector<std::string> messages;
};

TEST_F(GuardedTest, FailureIsReportedThenRaisedAgain)
{
    try {
        dir.RelativePath(R"(C:\a\)", "x.txt");
        FAIL() << "a path without \"..\" must fail";
    } catch (const Error& error) {
        EXPECT_EQ(messages, std::vector<std::string>{error.what()});
    }
    EXPECT_EQ(texts, std::vector<std::string>{"FileDir:CFileDir.RelativePath()"});
}

TEST_F(GuardedTest, NestedFailuresAreReportedInnerFirst)
{
    fake.program.path = ""; // no program folder to resolve ".." against
    EXPECT_THROW(dir.AddPath(R"(..\x.txt)"), Error);
    EXPECT_EQ(texts, (std::vector<std::string>{"FileDir:CFileDir.RelativePath()",
                                               "FileDir:CFileDir.AddPath()"}));

    texts.clear();
    EXPECT_THROW(dir.GetFileList(R"(..\job\*.tif)", false), Error);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"FileDir:CFileDir.RelativePath()",
                                        "FileDir:CFileDir.AddPath()", "FileDir:GetFileList"}));
}

TEST_F(GuardedTest, UnreadableEnvironmentIsReportedAndGivesNothing)
{
    fake.environment.values["temp"] = R"(C:\Temp)";
    fake.environment.fail = true;
    EXPECT_EQ(dir.GetEnvVar("temp"), "");
    EXPECT_EQ(texts, std::vector<std::string>{
                         "Exception Raised while trying to call function APIGetSystemDir"});
    // The temp folder then falls back to the system's, never the root.
    EXPECT_EQ(dir.GetTempFolder(), "\\tmp\\");
}

TEST(FileDirGuards, FailureWithoutHandlerStillRaises)
{
    FakePlatform fake;
    CFileDir dir(PathStyle::Native, fake.platform);
    EXPECT_THROW(dir.RelativePath("", "../x"), Error);
}

} // namespace
} // namespace pagewren
