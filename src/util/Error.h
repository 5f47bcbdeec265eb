#pragma once

#include <stdexcept>
#include <string>

namespace pagewren {

// A failure of the program's own logic, carrying the message shown to the user.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace pagewren
