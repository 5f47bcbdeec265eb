#pragma once

#include <string>
#include <string_view>

namespace pagewren {

// TrueText when Condition holds, else FalseText. Fixes how flags are written ("1"/"0").
std::string ChooseText(bool Condition, const std::string& TrueText, const std::string& FalseText);

// Text without its leading and trailing characters of code 32 or below (blanks, controls, NUL).
std::string TrimBlanks(std::string_view text);

// True when A and B are equal once both are trimmed as TrimBlanks does; case-sensitive.
bool SameTrimmed(std::string_view A, std::string_view B);

} // namespace pagewren
