#pragma once

#include <string>

namespace pagewren {

// Modal questions and notices that wait for the user.
class Prompts {
public:
    virtual ~Prompts() = default;

    // A Yes/No question with the given caption; true when the user answers Yes.
    virtual bool confirm(const std::string& caption, const std::string& text) = 0;
    // A warning with an OK button.
    virtual void warning(const std::string& text) = 0;
    // An error box titled "Error" with an OK button.
    virtual void error(const std::string& text) = 0;
};

} // namespace pagewren
