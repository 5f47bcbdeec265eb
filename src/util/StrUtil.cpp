#include "util/StrUtil.h"

namespace pagewren {

namespace {

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

} // namespace

std::string ChooseText(bool Condition, const std::string& TrueText, const std::string& FalseText)
{
    return Condition ? TrueText : FalseText;
}

std::string TrimBlanks(std::string_view text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

bool SameTrimmed(std::string_view A, std::string_view B)
{
    return TrimBlanks(A) == TrimBlanks(B);
}

} // namespace pagewren
