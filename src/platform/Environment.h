#pragma once

#include <string>

namespace pagewren {

// Process environment variables.
class Environment {
public:
    virtual ~Environment() = default;

    // The variable's value, of any length; "" when it is unset.
    virtual std::string variable(const std::string& name) const = 0;
};

} // namespace pagewren
