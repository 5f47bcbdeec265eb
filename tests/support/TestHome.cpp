#include "TestHome.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <sys/wait.h>

namespace pagewren::test {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> currentValue(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void applyValue(const std::string& name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

fs::path makeUniqueFolder()
{
    // TMPDIR is the process-wide test root that TestMain set up.
    std::string pattern = (fs::temp_directory_path() / "home-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a test home under " + pattern);
    return pattern;
}

} // namespace

TestHome::TestHome() : m_root(makeUniqueFolder()), m_previousFolder(fs::current_path())
{
    for (const auto& folder : {config(), data(), home() / ".cache", temp(), work()})
        fs::create_directories(folder);
    setVariable("HOME", home().string());
    setVariable("XDG_CONFIG_HOME", config().string());
    setVariable("XDG_DATA_HOME", data().string());
    setVariable("XDG_CACHE_HOME", (home() / ".cache").string());
    setVariable("TMPDIR", temp().string());
    fs::current_path(work());
}

TestHome::~TestHome()
{
    std::error_code ignored;
    fs::current_path(m_previousFolder, ignored);
    for (const auto& [name, value] : m_saved)
        applyValue(name, value);
    if (!std::getenv("PW_KEEP_TEST_HOME")) {
        // Tests may leave read-only folders behind; make them removable first.
        for (auto it = fs::recursive_directory_iterator(m_root, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(m_root, ignored);
    }
}

void TestHome::setVariable(const std::string& name, const std::optional<std::string>& value)
{
    if (!m_saved.contains(name))
        m_saved.emplace(name, currentValue(name));
    applyValue(name, value);
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

int runCommand(const std::string& command, std::string* output)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 4096> buffer{};
    std::string text;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        text.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    if (output)
        *output = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path testDataDir()
{
    return PW_TEST_DATA_DIR;
}

} // namespace pagewren::test
