#include "util/Debug.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::chrono::steady_clock;
using std::chrono::system_clock;

// 23 October 2009 in local time, at the given time of day.
system_clock::time_point localTime(int hour, int minute, int second, int millisecond)
{
    std::tm parts{};
    parts.tm_year = 2009 - 1900;
    parts.tm_mon = 9;
    parts.tm_mday = 23;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return system_clock::from_time_t(std::mktime(&parts)) + std::chrono::milliseconds(millisecond);
}

// Lines go to a list; both clocks return what the test puts in front of them.
class TraceTest : public ::testing::Test {
protected:
    void use(TraceTiming timing)
    {
        TraceHooks hooks;
        hooks.sink = [this](const std::string& line) { lines.push_back(line); };
        hooks.wallClock = [this] { return wall; };
        hooks.counter = [this] { return counter; };
        hooks.timing = timing;
        SetTraceHooks(std::move(hooks));
    }
    void TearDown() override
    {
        SetTraceHooks({});
        QLocale::setDefault(m_locale);
    }

    std::vector<std::string> lines;
    system_clock::time_point wall = localTime(14, 5, 9, 123);
    steady_clock::time_point counter{};

private:
    QLocale m_locale;
};

TEST_F(TraceTest, CounterLinesShowMillisecondsSinceTheLastTraceLine)
{
    use(TraceTiming::Counter);
    QLocale::setDefault(QLocale::c());
    counter = steady_clock::time_point(5s);
    TraceLineElapsed("scan", "before any start"); // measured from counter 0
    counter += 1h;
    TraceLine("scan", "start");
    counter += 1234567us;
    wall = localTime(14, 5, 10, 358);
    TraceLineElapsed("scan", "page 1");
    counter += 1000us;
    TraceLineElapsed("scan", "page 2"); // still from the same start
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[scan][23.10.09 14:05:09 123][5,000.00 ms] before any start",
                         "[scan][23.10.09 14:05:09 123] start",
                         "[scan][23.10.09 14:05:10 358][1,234.57 ms] page 1",
                         "[scan][23.10.09 14:05:10 358][1,235.57 ms] page 2",
                     }));
}

TEST_F(TraceTest, MillisecondsUseTheUsersSeparators)
{
    struct Case {
        QLocale locale;
        std::string expected;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates),
         "[t][23.10.09 14:05:09 123][1,234,567.89 ms] m"},
        {QLocale(QLocale::German, QLocale::Germany),
         "[t][23.10.09 14:05:09 123][1.234.567,89 ms] m"},
    };
    for (const auto& c : cases) {
        QLocale::setDefault(c.locale);
        use(TraceTiming::Counter);
        TraceLine("t", "start");
        counter += 1234567891us;
        TraceLineElapsed("t", "m");
        EXPECT_EQ(lines.back(), c.expected);
    }
}

TEST_F(TraceTest, ClockLinesShowTheElapsedTime)
{
    use(TraceTiming::Clock);
    TraceLineElapsed("t", "before any start"); // measured from midnight
    TraceLine("t", "start");
    wall = localTime(15, 7, 10, 246);
    TraceLineElapsed("t", "later");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[t][23.10.09 14:05:09 123][14:05:09 123] before any start",
                         "[t][23.10.09 14:05:09 123] start",
                         "[t][23.10.09 15:07:10 246][01:02:01 123] later",
                     }));
}

TEST_F(TraceTest, DefaultSinkIsStandardError)
{
    ::testing::internal::CaptureStderr();
    TraceLine("tag", "to stderr");
    const auto output = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(output.starts_with("[tag][")) << output;
    EXPECT_TRUE(output.ends_with("] to stderr\n")) << output;
}

class StaleLogTest : public test::HomeTest {};

TEST_F(StaleLogTest, RemovesOnlyTheLogFileInTheCurrentFolder)
{
    test::writeFile("Vellumark.log", "old");
    test::writeFile("other.log", "keep");
    test::writeFile(home.home() / "Vellumark.log", "elsewhere");
    RemoveStaleTraceLog();
    EXPECT_FALSE(fs::exists("Vellumark.log"));
    EXPECT_TRUE(fs::exists("other.log"));
    EXPECT_TRUE(fs::exists(home.home() / "Vellumark.log"));
    RemoveStaleTraceLog(); // nothing there: nothing happens
    EXPECT_TRUE(fs::exists("other.log"));
}

TEST_F(StaleLogTest, NeverRemovesAFolderOrALinksTarget)
{
    fs::create_directories("Vellumark.log/inside");
    RemoveStaleTraceLog();
    EXPECT_TRUE(fs::exists("Vellumark.log/inside"));
    fs::remove_all("Vellumark.log");

    test::writeFile(home.home() / "target.log", "keep");
    fs::create_symlink(home.home() / "target.log", "Vellumark.log");
    RemoveStaleTraceLog();
    EXPECT_FALSE(fs::is_symlink("Vellumark.log"));
    EXPECT_TRUE(fs::exists(home.home() / "target.log"));
}

} // namespace
} // namespace pagewren
