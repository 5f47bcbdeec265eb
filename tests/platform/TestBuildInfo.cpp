#include "platform/BuildInfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace pagewren {
namespace {

TEST(BuildInfo, VersionHasFourNumbers)
{
    EXPECT_TRUE(std::regex_match(BuildInfo().version(), std::regex(R"(\d+\.\d+\.\d+\.\d+)")))
        << BuildInfo().version();
}

TEST(BuildInfo, ExecutablePathIsThisTestProgram)
{
    const std::filesystem::path path = BuildInfo().executablePath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), "test_platform");
}

} // namespace
} // namespace pagewren
