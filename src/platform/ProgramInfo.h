#pragma once

#include <string>

namespace pagewren {

// Facts about the running program itself.
class ProgramInfo {
public:
    virtual ~ProgramInfo() = default;

    // Full path of the running executable.
    virtual std::string executablePath() const = 0;
    // The program's version as four numbers joined by ".", e.g. "1.0.0.0".
    virtual std::string version() const = 0;
};

} // namespace pagewren
