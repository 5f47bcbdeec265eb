#include "settings/AppCache.h"

#include "platform/SystemEnvironment.h"
#include "platform/XdgFolders.h"
#include "util/Error.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

const std::string Marker = "<AppCache><written>by hand</written></AppCache>";

class AppCacheTest : public test::HomeTest {
protected:
    SystemEnvironment environment;
    XdgFolders folders{environment};
    fs::path settingsFolder = home.config() / "pagewren";
    fs::path file = settingsFolder / "appcache.dat";
};

TEST_F(AppCacheTest, FirstStartIsEmptyAndWritesNothingUntilAutoSave)
{
    TApplicationCache cache(folders);
    EXPECT_EQ(cache.CacheFile, file.string());
    EXPECT_TRUE(fs::is_directory(settingsFolder));
    EXPECT_EQ(cache.getOutputFolder(), "");
    EXPECT_EQ(cache.getSubPath(), "");
    EXPECT_EQ(cache.getDefaultDevice(), "");
    EXPECT_FALSE(cache.getAutoScan());
    EXPECT_FALSE(cache.getMinMsgDisplayed());
    EXPECT_EQ(cache.keptAsideFile(), "");

    cache.setSubPath("20240101120000");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(cache.getSubPath(), "20240101120000");

    cache.AutoSave = true;
    cache.setDefaultDevice("Scanner A");
    EXPECT_EQ(readFile(file), "<AppCache><default_device>Scanner A</default_device>"
                              "<sub_path>20240101120000</sub_path></AppCache>");
}

TEST_F(AppCacheTest, TypedAccessorsUseTheirKeys)
{
    TApplicationCache cache(folders);
    cache.setAutoScan(true);
    cache.setMinMsgDisplayed(false);
    cache.setOutputFolder("/home/ann/PDF");
    cache.setSubPath("20240101120000");
    cache.setDefaultDevice("test:0");
    EXPECT_TRUE(cache.Save());
    const std::string expected = "<AppCache><auto_scan>1</auto_scan>"
                                 "<default_device>test:0</default_device>"
                                 "<min_msg_displayed>0</min_msg_displayed>"
                                 "<output_folder>/home/ann/PDF</output_folder>"
                                 "<sub_path>20240101120000</sub_path></AppCache>";
    EXPECT_EQ(readFile(file), expected);
    EXPECT_EQ(cache.ToXML(), expected);

    const TApplicationCache again(folders);
    EXPECT_TRUE(again.getAutoScan());
    EXPECT_FALSE(again.getMinMsgDisplayed());
    EXPECT_EQ(again.getOutputFolder(), "/home/ann/PDF");
    EXPECT_EQ(again.getSubPath(), "20240101120000");
    EXPECT_EQ(again.getDefaultDevice(), "test:0");
    EXPECT_EQ(again.getVar("auto_scan"), "1");
}

TEST_F(AppCacheTest, FlagsReadTrueOnlyForOne)
{
    struct Case {
        const char* stored;
        bool value;
    };
    for (const auto& c :
         {Case{"1", true}, Case{" 1 ", true}, Case{"\t1\t", true}, Case{"0", false},
          Case{"true", false}, Case{"01", false}, Case{"yes", false}, Case{"", false}}) {
        writeFile(file,
                  std::string("<AppCache><auto_scan>") + c.stored + "</auto_scan></AppCache>");
        const TApplicationCache cache(folders);
        EXPECT_EQ(cache.getAutoScan(), c.value) << '"' << c.stored << '"';
        EXPECT_EQ(cache.getBool("auto_scan"), c.value) << '"' << c.stored << '"';
    }
}

TEST_F(AppCacheTest, SavesOnlyOnChangeOrEmptyText)
{
    TApplicationCache cache(folders);
    cache.AutoSave = true;
    cache.setOutputFolder("/out");
    const std::string saved = "<AppCache><output_folder>/out</output_folder></AppCache>";
    ASSERT_EQ(readFile(file), saved);

    // The file is replaced behind the cache's back to see whether it writes again.
    struct Case {
        const char* what;
        std::function<void()> call;
        bool writes;
    };
    const Case cases[] = {
        {"same text", [&] { cache.setOutputFolder("/out"); }, false},
        {"other letter case", [&] { cache.setOutputFolder("/OUT"); }, true},
        {"back again", [&] { cache.setOutputFolder("/out"); }, true},
        {"empty text over a value", [&] { cache.setOutputFolder(""); }, true},
        {"empty text for an absent key", [&] { cache.setSubPath(""); }, true},
        {"new flag", [&] { cache.setAutoScan(false); }, true},
        {"unchanged flag", [&] { cache.setAutoScan(false); }, false},
    };
    for (const auto& c : cases) {
        writeFile(file, Marker);
        c.call();
        EXPECT_EQ(readFile(file) != Marker, c.writes) << c.what;
    }
    EXPECT_EQ(cache.getOutputFolder(), "/out");
    EXPECT_EQ(cache.getSubPath(), "");
}

TEST_F(AppCacheTest, WithoutAutoSaveOnlySaveWrites)
{
    writeFile(file, Marker);
    TApplicationCache cache(folders);
    cache.setOutputFolder("/out");
    cache.setOutputFolder("");
    EXPECT_EQ(readFile(file), Marker);
    EXPECT_TRUE(cache.Save());
    EXPECT_EQ(readFile(file),
              "<AppCache><output_folder>/out</output_folder><written>by hand</written></AppCache>");
}

TEST_F(AppCacheTest, EmptySettingElementReadsAsAbsent)
{
    writeFile(file, "<AppCache><output_folder/><sub_path></sub_path><auto_scan>1</auto_scan>"
                    "</AppCache>");
    const TApplicationCache cache(folders);
    EXPECT_EQ(cache.getOutputFolder(), "");
    EXPECT_EQ(cache.getSubPath(), "");
    EXPECT_TRUE(cache.getAutoScan());
}

TEST_F(AppCacheTest, FolderNamesWithXmlCharactersSurviveARestart)
{
    {
        TApplicationCache cache(folders);
        cache.AutoSave = true;
        cache.setOutputFolder("/home/ann/O'Neil & Sons <\"PDF\">/");
    }
    EXPECT_EQ(readFile(file), "<AppCache><output_folder>/home/ann/O&apos;Neil &amp; Sons "
                              "&lt;&quot;PDF&quot;&gt;/</output_folder></AppCache>");
    const TApplicationCache cache(folders);
    EXPECT_EQ(cache.getOutputFolder(), "/home/ann/O'Neil & Sons <\"PDF\">/");
}

TEST_F(AppCacheTest, UnreadableFileIsKeptAsideAndTheCacheStartsEmpty)
{
    const std::string truncated = "<AppCache><output_folder>/out</output_folder><sub_pa";
    writeFile(file, truncated);
    {
        TApplicationCache cache(folders);
        EXPECT_EQ(cache.keptAsideFile(), file.string() + ".bad");
        EXPECT_EQ(cache.loadError(), "Could not load XML from file " + file.string() +
                                         ".  Are you sure it exists and is it well formed?");
        EXPECT_EQ(cache.getOutputFolder(), "");
        EXPECT_FALSE(fs::exists(file));
        cache.AutoSave = true;
        cache.setSubPath("job7");
    }
    EXPECT_EQ(readFile(file.string() + ".bad"), truncated);
    EXPECT_EQ(readFile(file), "<AppCache><sub_path>job7</sub_path></AppCache>");

    // A second damaged file does not replace the first one kept aside.
    writeFile(file, "not xml");
    const TApplicationCache again(folders);
    EXPECT_EQ(again.keptAsideFile(), file.string() + ".bad2");
    EXPECT_EQ(readFile(file.string() + ".bad"), truncated);
    EXPECT_EQ(readFile(file.string() + ".bad2"), "not xml");

    const TApplicationCache clean(folders);
    EXPECT_EQ(clean.keptAsideFile(), "");
    EXPECT_EQ(clean.loadError(), "");
}

TEST_F(AppCacheTest, FailedSaveKeepsTheValueInMemory)
{
    // A file where the settings folder should be: the folder cannot be made, saving fails.
    writeFile(settingsFolder, "in the way");
    TApplicationCache cache(folders);
    cache.AutoSave = true;
    try {
        cache.setOutputFolder("/out");
        ADD_FAILURE() << "saving into a missing folder succeeded";
    } catch (const Error& error) {
        EXPECT_TRUE(std::string(error.what()).starts_with("Cannot create file \"" + file.string()))
            << error.what();
    }
    EXPECT_EQ(cache.getOutputFolder(), "/out");
    EXPECT_EQ(readFile(settingsFolder), "in the way");
}

} // namespace
} // namespace pagewren
