#include "util/FileDir.h"

#include "FakePlatform.h"
#include "TestHome.h"
#include "platform/Platform.h"
#include "platform/ProgramInfo.h"
#include "util/Error.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using test::HomeTest;
using test::writeFile;

// The same path spelled with backslashes, as the Windows style sees it on this system.
std::string windowsSpelling(const fs::path& path)
{
    auto text = path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleGuard() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

class FileListTest : public HomeTest {
protected:
    FileListTest() : job(home.work() / "job") { fs::create_directories(job); }

    void touch(const std::string& name) { writeFile(job / name, "x"); }

    // The collation tests and CI run in, whatever the machine's locale.
    LocaleGuard cLocale{QLocale::c()};
    fs::path job;
    CFileDir native{PathStyle::Native};
    CFileDir windows{PathStyle::Windows};
};

TEST_F(FileListTest, SortedIgnoringCaseWithoutNumericOrderInEveryLocale)
{
    for (const auto* name : {"img_2.tif", "IMG_3.TIF", "img_10.tif", "img_1.tif", "notes.txt"})
        touch(name);
    const auto folder = windowsSpelling(job) + "\\";
    const StringList expected{folder + "img_1.tif", folder + "img_10.tif", folder + "img_2.tif",
                              folder + "IMG_3.TIF"};
    // The C locale is what tests and CI run in; the others use the full collation.
    for (const auto& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                               QLocale(QLocale::German, QLocale::Germany)}) {
        const LocaleGuard guard(locale);
        EXPECT_EQ(windows.GetFileList(folder + "*.tif", false), expected)
            << locale.name().toStdString();
    }
}

TEST_F(FileListTest, NativeMatchesCaseSensitivelyButSortsIgnoringCase)
{
    for (const auto* name : {"b.tif", "IMG_3.TIF", "img_10.tif", "A.tif", "a.tif"})
        touch(name);
    const auto folder = job.string() + "/";
    EXPECT_EQ(
        native.GetFileList(folder + "*.tif", false),
        (StringList{folder + "A.tif", folder + "a.tif", folder + "b.tif", folder + "img_10.tif"}));
    EXPECT_EQ(native.GetFileList(folder + "img*", false), (StringList{folder + "img_10.tif"}));
    EXPECT_EQ(native.GetFileList(folder + "IMG*", false), (StringList{folder + "IMG_3.TIF"}));
}

TEST_F(FileListTest, Wildcards)
{
    for (const auto* name : {"img_1.tif", "img_10.tif", "\xc3\xa9.tif", "README", "x.tiff"})
        touch(name);
    const auto n = job.string() + "/";
    const auto w = windowsSpelling(job) + "\\";
    struct Case {
        CFileDir& dir;
        std::string pattern;
        StringList expected;
    };
    const Case cases[] = {
        {native, n + "img_?.tif", {n + "img_1.tif"}},
        {native, n + "?.tif", {n + "\xc3\xa9.tif"}}, // "?" is one character, not one byte
        {native, n + "*.tif", {n + "img_1.tif", n + "img_10.tif", n + "\xc3\xa9.tif"}},
        {native, n + "*.*", {n + "img_1.tif", n + "img_10.tif", n + "x.tiff", n + "\xc3\xa9.tif"}},
        {native, n + "README", {n + "README"}},
        {native, n + "*1*", {n + "img_1.tif", n + "img_10.tif"}},
        {windows, w + "IMG_*.TIF", {w + "img_1.tif", w + "img_10.tif"}},
        {windows,
         w + "*.*",
         {w + "img_1.tif", w + "img_10.tif", w + "README", w + "x.tiff", w + "\xc3\xa9.tif"}},
        {windows, w + "\xc3\x89.TIF", {w + "\xc3\xa9.tif"}},
    };
    for (const auto& c : cases) {
        auto found = c.dir.GetFileList(c.pattern, false);
        EXPECT_EQ(found, c.expected) << c.pattern;
    }
}

TEST_F(FileListTest, OnlyPlainFoldersAreFolders)
{
    touch("a.tif");
    touch(".hidden.tif");
    fs::create_directories(job / "sub");
    fs::create_directories(job / ".cache");
    fs::create_directories(job / "locked");
    fs::permissions(job / "locked",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directory_symlink(job / "sub", job / "link");
    const auto f = job.string() + "/";
    // Folders that are hidden, read-only or links are listed like files.
    EXPECT_EQ(native.GetFileList(f + "*", true),
              (StringList{f + ".cache", f + ".hidden.tif", f + "a.tif", f + "link", f + "locked",
                          f + "sub+"}));
    EXPECT_EQ(native.GetFileList(f + "*", false),
              (StringList{f + ".cache", f + ".hidden.tif", f + "a.tif", f + "link", f + "locked"}));

    const auto w = windowsSpelling(job) + "\\";
    EXPECT_EQ(windows.GetFileList(w + "*", true),
              (StringList{w + ".cache", w + ".hidden.tif", w + "a.tif", w + "link", w + "locked",
                          w + "sub+"}));
}

TEST_F(FileListTest, SeparatorsBeforeTheNameAreCollapsed)
{
    touch("a.tif");
    EXPECT_EQ(native.GetFileList(job.string() + "//*.tif", false),
              StringList{job.string() + "/a.tif"});
}

TEST_F(FileListTest, NothingToListGivesAnEmptyList)
{
    touch("a.tif");
    for (const auto& pattern :
         {home.work() / "missing" / "*.tif", job / "*.png", job / "a.tif" / "*", job / ""}) {
        EXPECT_TRUE(native.GetFileList(pattern.string(), true).empty()) << pattern;
    }
}

TEST_F(FileListTest, AFolderThatCannotBeReadIsAFailureNotAnEmptyList)
{
    // A link to itself cannot be opened, whoever runs the test.
    fs::create_directory_symlink(job / "loop", job / "loop");
    std::vector<std::string> texts;
    native.OnError = [&texts](CFileDir&, const std::exception&, const std::string& text) {
        texts.push_back(text);
    };
    EXPECT_THROW(native.GetFileList((job / "loop" / "*.tif").string(), false), Error);
    EXPECT_EQ(texts, std::vector<std::string>{"FileDir:GetFileList"});
}

TEST_F(FileListTest, BareNamesAreSearchedInTheProgramFolder)
{
    test::FakePlatform fake;
    fake.program.path = (job / "pagewren").string();
    touch("pagewren");
    touch("Pagewren.htm");
    CFileDir dir(PathStyle::Native, fake.platform);
    EXPECT_EQ(dir.GetFileList("*.htm", false), StringList{job.string() + "/Pagewren.htm"});
}

class DeleteFolderTest : public HomeTest {
protected:
    fs::path trash() const { return home.data() / "Trash"; }
    bool trashIsEmpty() const
    {
        return !fs::exists(trash() / "files") || fs::is_empty(trash() / "files");
    }

    CFileDir native{PathStyle::Native};
};

TEST_F(DeleteFolderTest, MovesTheFolderWithItsContentsToTheTrash)
{
    const auto job = home.work() / "20240101120000";
    writeFile(job / "img_001.tif", "page");
    writeFile(job / "sub" / "note.txt", "note");

    EXPECT_TRUE(native.DeleteFolder(job.string() + "/"));

    EXPECT_FALSE(fs::exists(job));
    EXPECT_EQ(test::readFile(trash() / "files" / "20240101120000" / "img_001.tif"), "page");
    EXPECT_EQ(test::readFile(trash() / "files" / "20240101120000" / "sub" / "note.txt"), "note");
    const auto info = test::readFile(trash() / "info" / "20240101120000.trashinfo");
    EXPECT_NE(info.find("[Trash Info]"), std::string::npos) << info;
    EXPECT_NE(info.find("Path=" + job.string()), std::string::npos) << info;
}

TEST_F(DeleteFolderTest, WorksForLongPathsInBothStyles)
{
    auto deep = home.work();
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i));
    writeFile(deep / "img_001.tif", "page");
    ASSERT_GT(deep.string().size(), 400U);
    EXPECT_TRUE(native.DeleteFolder(deep.string()));
    EXPECT_FALSE(fs::exists(deep));

    const auto other = home.work() / "other";
    fs::create_directories(other);
    EXPECT_TRUE(CFileDir(PathStyle::Windows).DeleteFolder(windowsSpelling(other) + "\\"));
    EXPECT_FALSE(fs::exists(other));
}

TEST_F(DeleteFolderTest, RefusesAnythingButARealFolder)
{
    const auto job = home.work() / "job";
    writeFile(job / "img_001.tif", "page");
    writeFile(home.work() / "file.txt", "x");
    fs::create_directory_symlink(job, home.work() / "link");

    struct Case {
        PathStyle style;
        std::string path;
    };
    const Case cases[] = {
        {PathStyle::Native, ""},
        {PathStyle::Native, "/"},
        {PathStyle::Native, "//"},
        {PathStyle::Native, (home.work() / "file.txt").string()},
        {PathStyle::Native, (home.work() / "missing").string()},
        {PathStyle::Native, (home.work() / "link").string()},
        {PathStyle::Native, (job / ".." / "job").string()},
        {PathStyle::Native, (job / ".").string()},
        {PathStyle::Native, home.home().string()},
        {PathStyle::Native, home.home().parent_path().string()},
        {PathStyle::Windows, ""},
        {PathStyle::Windows, "\\"},
        {PathStyle::Windows, "C:\\"},
        {PathStyle::Windows, "C:"},
        {PathStyle::Windows, windowsSpelling(home.work() / "file.txt")},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(CFileDir(c.style).DeleteFolder(c.path)) << '"' << c.path << '"';

    EXPECT_TRUE(fs::exists(job / "img_001.tif"));
    EXPECT_TRUE(fs::exists(home.work() / "file.txt"));
    EXPECT_TRUE(fs::is_symlink(home.work() / "link"));
    EXPECT_TRUE(trashIsEmpty());
}

class FoldersTest : public HomeTest {};

TEST_F(FoldersTest, EnvironmentValuesOfAnyLength)
{
    const std::string longValue(1000, 'v');
    home.setVariable("PAGEWREN_TEST_VALUE", longValue);
    CFileDir dir;
    EXPECT_EQ(dir.GetEnvVar("PAGEWREN_TEST_VALUE"), longValue);
    home.setVariable("PAGEWREN_TEST_VALUE", std::nullopt);
    EXPECT_EQ(dir.GetEnvVar("PAGEWREN_TEST_VALUE"), "");
}

TEST_F(FoldersTest, TempAndProfileFoldersAreNeverTheRoot)
{
    const auto tmp = home.temp().string();
    const auto homeDir = home.home().string();
    const std::string longTemp = "C:\\" + std::string(450, 't');
    struct Case {
        PathStyle style;
        std::optional<std::string> temp, tmpdir, profile;
        std::string expectedTemp, expectedProfile;
    };
    const Case cases[] = {
        {PathStyle::Native, std::nullopt, tmp, std::nullopt, tmp + "/",
         home.config().string() + "/pagewren/"},
        {PathStyle::Native, std::nullopt, std::nullopt, std::nullopt, "/tmp/",
         home.config().string() + "/pagewren/"},
        {PathStyle::Native, std::string(""), std::string(""), std::string(""), "/tmp/",
         home.config().string() + "/pagewren/"},
        {PathStyle::Windows, std::string("C:\\Temp"), tmp, std::string("C:\\Users\\me"),
         "C:\\Temp\\", "C:\\Users\\me\\"},
        {PathStyle::Windows, longTemp, tmp, std::string("C:\\Users\\me\\"), longTemp + "\\",
         "C:\\Users\\me\\"},
        {PathStyle::Windows, std::nullopt, tmp, std::nullopt, windowsSpelling(tmp) + "\\",
         windowsSpelling(homeDir) + "\\"},
        {PathStyle::Windows, std::string(""), std::nullopt, std::string(""), "\\tmp\\",
         windowsSpelling(homeDir) + "\\"},
    };
    for (const auto& c : cases) {
        home.setVariable("temp", c.temp);
        home.setVariable("TMPDIR", c.tmpdir);
        home.setVariable("USERPROFILE", c.profile);
        CFileDir dir(c.style);
        EXPECT_EQ(dir.GetTempFolder(), c.expectedTemp) << c.temp.value_or("(unset)");
        EXPECT_EQ(dir.GetUserProfileFolder(), c.expectedProfile) << c.profile.value_or("(unset)");
    }
}

TEST_F(FoldersTest, DesktopAndSpecialFolders)
{
    CFileDir dir;
    const auto desktop = home.home().string() + "/Desktop";
    EXPECT_EQ(dir.GetSpecialFolder(16), desktop);
    EXPECT_EQ(dir.GetDesktopFolder(), desktop + "/");
    EXPECT_EQ(dir.GetSpecialFolder(40), home.home().string());
    EXPECT_EQ(dir.GetSpecialFolder(5), "");

    test::FakePlatform fake;
    fake.folders.desktopPath = "";
    EXPECT_EQ(CFileDir(PathStyle::Native, fake.platform).GetDesktopFolder(), "/home/me/");
}

TEST_F(FoldersTest, VersionOfTheProgramFileOnly)
{
    CFileDir dir;
    const auto program = Platform::system().program.executablePath();
    ASSERT_FALSE(program.empty());
    const auto version = dir.GetFileVersion(program);
    EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d+\.\d+\.\d+\.\d+)"))) << version;
    fs::create_symlink(program, home.work() / "linked");
    EXPECT_EQ(dir.GetFileVersion("linked"), version);

    writeFile(home.work() / "other.bin", "x");
    EXPECT_EQ(dir.GetFileVersion((home.work() / "other.bin").string()), "");
    EXPECT_EQ(dir.GetFileVersion((home.work() / "missing").string()), "");
    EXPECT_EQ(dir.GetFileVersion(""), "");
}

TEST(FileDirBrowse, ChosenFolderOrPathLeftAlone)
{
    test::FakePlatform fake;
    CFileDir dir(PathStyle::Native, fake.platform);
    std::string path = "/before";
    EXPECT_FALSE(dir.BrowseForFolder(path));
    EXPECT_EQ(path, "/before");
    fake.shell.browseAnswer = "/home/me/Scans";
    EXPECT_TRUE(dir.BrowseForFolder(path));
    EXPECT_EQ(path, "/home/me/Scans");
    EXPECT_EQ(fake.shell.calls,
              (std::vector<std::string>{"browse Select a folder", "browse Select a folder"}));
}

} // namespace
} // namespace pagewren
