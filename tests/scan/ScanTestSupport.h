#pragma once

#include "image/Bitmap.h"
#include "platform/Prompts.h"

#include <string>
#include <vector>

namespace pagewren {
class TwainComponent;
}

namespace pagewren::test {

// A small RGB page; its width tells pages apart.
Bitmap makePage(int width, int height = 3);

// Runs the event loop until the component has finished its acquisition. False when it was still
// busy after a minute (a hang, not a slow scan: the pages here are tiny).
bool waitUntilIdle(TwainComponent& twain);

// Answers every question with the same answer and remembers what was asked.
class AnsweringPrompts : public Prompts {
public:
    bool confirm(const std::string& caption, const std::string& text) override
    {
        questions.push_back({caption, text});
        return answer;
    }
    void warning(const std::string& text) override { notices.push_back(text); }
    void error(const std::string& text) override { notices.push_back(text); }

    struct Question {
        std::string caption;
        std::string text;
    };
    std::vector<Question> questions;
    std::vector<std::string> notices;
    bool answer = true;
};

} // namespace pagewren::test
