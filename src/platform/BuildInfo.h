#pragma once

#include "platform/ProgramInfo.h"

namespace pagewren {

// Facts fixed when the program was built, and the executable's location.
class BuildInfo final : public ProgramInfo {
public:
    std::string executablePath() const override;
    std::string version() const override;
};

} // namespace pagewren
