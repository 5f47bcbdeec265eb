#include "platform/SystemEnvironment.h"
#include "platform/XdgFolders.h"

#include "TestHome.h"

#include <gtest/gtest.h>

namespace pagewren {
namespace {

using test::HomeTest;

class XdgFoldersTest : public HomeTest {
protected:
    SystemEnvironment environment;
    XdgFolders folders{environment};
};

TEST_F(XdgFoldersTest, FollowTheEnvironment)
{
    EXPECT_EQ(folders.home(), home.home().string());
    EXPECT_EQ(folders.temp(), home.temp().string());
    EXPECT_EQ(folders.settings(), home.config().string() + "/pagewren");
    EXPECT_EQ(folders.desktop(), home.home().string() + "/Desktop");
}

TEST_F(XdgFoldersTest, DesktopFollowsUserDirs)
{
    test::writeFile(home.config() / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(folders.desktop(), home.home().string() + "/Schreibtisch");
}

TEST_F(XdgFoldersTest, UnusableVariablesNeverGiveTheRoot)
{
    struct Case {
        const char* tmpdir;
        const char* configHome;
    };
    for (const auto& c : {Case{"", ""}, Case{"/", "/"}, Case{"relative/tmp", "relative/config"}}) {
        home.setVariable("TMPDIR", std::string(c.tmpdir));
        home.setVariable("XDG_CONFIG_HOME", std::string(c.configHome));
        EXPECT_EQ(folders.temp(), "/tmp") << "TMPDIR=" << c.tmpdir;
        EXPECT_EQ(folders.settings(), home.home().string() + "/.config/pagewren")
            << "XDG_CONFIG_HOME=" << c.configHome;
    }
    home.setVariable("TMPDIR", std::nullopt);
    EXPECT_EQ(folders.temp(), "/tmp");
}

TEST_F(XdgFoldersTest, TrailingSeparatorsAreDropped)
{
    home.setVariable("TMPDIR", home.temp().string() + "//");
    EXPECT_EQ(folders.temp(), home.temp().string());
}

} // namespace
} // namespace pagewren
