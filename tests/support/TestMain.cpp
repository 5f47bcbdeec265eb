// The main of every test executable. Before anything else runs it moves the whole process into a
// throw-away root: HOME, XDG_* and TMPDIR point inside it and the session bus is one that does not
// exist, so no test can reach the user's real files, trash, settings or file manager even by
// mistake. Each test then gets its own home inside that root (TestHome).
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path makeProcessRoot()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        (fs::path(base && *base ? base : "/tmp") / "pagewren-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the test root " + pattern);
    return pattern;
}

void isolate(const fs::path& root)
{
    const auto home = root / "home";
    fs::create_directories(home / ".config");
    fs::create_directories(home / ".local/share");
    fs::create_directories(root / "tmp");
    fs::create_directories(root / "runtime");
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
    ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root / "no-bus").string()).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Only the SANE "test" backend: never the machine's scanners or its slow configuration.
    ::setenv("SANE_CONFIG_DIR", PW_TEST_DATA_DIR "/sane", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
}

} // namespace

// Sanitizer settings for every test program, read by the sanitizer runtimes when they start.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1";
}

extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

// Leaks of third-party code that we cannot fix. SANE's test backend loses its read buffer when a
// page is cancelled while its reader thread still runs.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libsane-test.so\n";
}

int main(int argc, char** argv)
{
    const fs::path root = makeProcessRoot();
    isolate(root);
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    if (!std::getenv("PW_KEEP_TEST_HOME"))
        fs::remove_all(root, ignored);
    return result;
}
