#pragma once

#include "platform/Environment.h"

namespace pagewren {

// The environment of this process.
class SystemEnvironment final : public Environment {
public:
    std::string variable(const std::string& name) const override;
};

} // namespace pagewren
