#include "platform/BuildInfo.h"

#include "platform/Version.h"

#include <filesystem>
#include <system_error>

namespace pagewren {

std::string BuildInfo::executablePath() const
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string BuildInfo::version() const
{
    return kProgramVersion;
}

} // namespace pagewren
