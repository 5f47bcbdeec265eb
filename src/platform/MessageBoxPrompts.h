#pragma once

#include "platform/Prompts.h"

namespace pagewren {

// Qt message boxes; needs a QApplication.
class MessageBoxPrompts final : public Prompts {
public:
    bool confirm(const std::string& caption, const std::string& text) override;
    void warning(const std::string& text) override;
    void error(const std::string& text) override;
};

} // namespace pagewren
