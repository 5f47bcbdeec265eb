#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace pagewren::test {

// A private home for one test: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and TMPDIR
// point into a fresh folder, and the current folder is its "work" folder. Everything is put back
// and the folder removed when the object goes (set PW_KEEP_TEST_HOME=1 to keep it).
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path home() const { return m_root / "home"; }
    std::filesystem::path config() const { return home() / ".config"; }
    std::filesystem::path data() const { return home() / ".local/share"; }
    std::filesystem::path temp() const { return m_root / "tmp"; }
    std::filesystem::path work() const { return m_root / "work"; }

    // Sets (or with nullopt unsets) a variable until the end of the test.
    void setVariable(const std::string& name, const std::optional<std::string>& value);

private:
    std::filesystem::path m_root;
    std::filesystem::path m_previousFolder;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// Base fixture for tests that touch files, folders or the environment.
class HomeTest : public ::testing::Test {
protected:
    TestHome home;
};

// Writes a file with the given bytes, creating missing parent folders.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// The whole content of a file; fails the test when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Runs a shell command and returns its exit status; output goes to the given string when set.
int runCommand(const std::string& command, std::string* output = nullptr);

// The folder of small fixtures checked into the repository.
std::filesystem::path testDataDir();

} // namespace pagewren::test
