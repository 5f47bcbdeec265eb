#include "platform/SystemEnvironment.h"

#include <cstdlib>

namespace pagewren {

std::string SystemEnvironment::variable(const std::string& name) const
{
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
}

} // namespace pagewren
