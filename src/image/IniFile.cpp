#include "image/IniFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <istream>
#include <string_view>
#include <utility>

namespace pagewren {

namespace {

std::string_view trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Longer lines are cut here: no real setting needs more, and memory stays bounded whatever the
// file holds.
constexpr std::size_t kMaxLine = 64 * 1024;

// The next line of in without its line end, at most kMaxLine characters of it; false at the end.
bool nextLine(std::istream& in, std::string& line)
{
    line.clear();
    std::istream::sentry ready(in, true);
    if (!ready)
        return false;
    std::streambuf* buffer = in.rdbuf();
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            return true;
        }
        if (c == '\n')
            return true;
        if (line.size() < kMaxLine)
            line.push_back(static_cast<char>(c));
    }
}

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

IniFile::IniFile(std::string path) : m_path(std::move(path)) {}

std::optional<std::string> IniFile::ReadString(const std::string& Section,
                                               const std::string& Key) const
{
    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string line;
    bool first = true;
    bool inSection = false;
    bool sectionSeen = false;
    while (nextLine(in, line)) {
        std::string_view text = line;
        if (first && text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3); // UTF-8 byte order mark
        first = false;
        text = trim(text);
        if (text.starts_with('[')) {
            if (sectionSeen)
                return std::nullopt; // only the first section of that name counts
            const std::size_t close = text.find(']');
            const std::string_view name =
                trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
            inSection = sameName(name, Section);
            sectionSeen = inSection;
            continue;
        }
        if (!inSection || text.empty() || text.front() == ';')
            continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos || !sameName(trim(text.substr(0, equals)), Key))
            continue;
        std::string_view value = trim(text.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

int IniFile::ReadInteger(const std::string& Section, const std::string& Key, int Default) const
{
    const std::optional<std::string> value = ReadString(Section, Key);
    if (!value || value->empty())
        return Default;
    std::string_view digits = *value;
    const bool plus = digits.front() == '+';
    if (plus)
        digits.remove_prefix(1);
    if (digits.empty() || (plus && digits.front() == '-'))
        return Default;
    int result = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, result);
    if (error != std::errc() || stop != end)
        return Default;
    return result;
}

} // namespace pagewren
