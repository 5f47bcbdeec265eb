#include "settings/RegFile.h"

#include "util/Error.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

namespace pagewren {

namespace {

constexpr std::string_view Header = "Windows Registry Editor Version 5.00";

constexpr std::array<std::pair<RegKey, const char*>, 7> Roots{{
    {RegKey::ClassesRoot, "HKEY_CLASSES_ROOT"},
    {RegKey::CurrentUser, "HKEY_CURRENT_USER"},
    {RegKey::LocalMachine, "HKEY_LOCAL_MACHINE"},
    {RegKey::Users, "HKEY_USERS"},
    {RegKey::PerformanceData, "HKEY_PERFORMANCE_DATA"},
    {RegKey::CurrentConfig, "HKEY_CURRENT_CONFIG"},
    {RegKey::DynData, "HKEY_DYN_DATA"},
}};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string folded(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = lower(c);
    return out;
}

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return lower(x) == lower(y); });
}

// Every key sorts right before its subkeys: names hold no control characters, so "\x01" as the
// separator sorts below any of their characters.
std::string sortKey(std::string_view rootName, const RegFile::Path& path)
{
    std::string key = folded(rootName);
    for (const auto& part : path)
        key += '\x01' + folded(part);
    return key;
}

bool hasControlCharacter(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20)
            return true;
    }
    return false;
}

// Decodes one UTF-8 sequence at pos; -1 when it is not valid (overlong, surrogate, too large,
// cut short).
long decodeUtf8(std::string_view text, std::size_t& pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(pos);
    int length = 0;
    long code = 0;
    long minimum = 0;
    if (first < 0x80) {
        ++pos;
        return first;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2, code = first & 0x1F, minimum = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3, code = first & 0x0F, minimum = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4, code = first & 0x07, minimum = 0x10000;
    } else {
        return -1;
    }
    if (pos + static_cast<std::size_t>(length) > text.size())
        return -1;
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + static_cast<std::size_t>(i));
        if ((next & 0xC0) != 0x80)
            return -1;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return -1;
    pos += static_cast<std::size_t>(length);
    return code;
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        if (decodeUtf8(text, pos) < 0)
            return false;
    }
    return true;
}

void appendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void appendUtf16le(std::string& out, unsigned long unit)
{
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// The caller has made sure the text is valid UTF-8.
std::string utf8ToUtf16le(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t pos = 0; pos < text.size();) {
        const auto code = static_cast<unsigned long>(decodeUtf8(text, pos));
        if (code >= 0x10000) {
            appendUtf16le(out, 0xD800 + ((code - 0x10000) >> 10));
            appendUtf16le(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            appendUtf16le(out, code);
        }
    }
    return out;
}

// Unpaired surrogates become U+FFFD; an odd last byte is dropped.
std::string utf16leToUtf8(std::string_view bytes)
{
    const auto unit = [&](std::size_t i) {
        return static_cast<unsigned long>(static_cast<unsigned char>(bytes[2 * i])) |
               static_cast<unsigned long>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
    };
    const std::size_t count = bytes.size() / 2;
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned long u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

bool isTextType(RegType type)
{
    return type == RegType::Sz || type == RegType::ExpandSz || type == RegType::MultiSz;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// 1 to 8 hexadecimal digits, nothing else.
bool parseHexNumber(std::string_view text, std::uint32_t& number)
{
    if (text.empty() || text.size() > 8)
        return false;
    number = 0;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return false;
        number = number << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

[[noreturn]] void malformed(std::size_t line, const std::string& what)
{
    throw Error("line " + std::to_string(line) + ": " + what);
}

// Comma-separated bytes of two hexadecimal digits; "" is no bytes.
bool parseBytes(std::string_view text, std::string& bytes)
{
    bytes.clear();
    text = trimmed(text);
    if (text.empty())
        return true;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view piece = trimmed(text.substr(0, comma));
        std::uint32_t byte = 0;
        if (piece.size() > 2 || !parseHexNumber(piece, byte))
            return false;
        bytes += static_cast<char>(byte);
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

// A quoted text starting at pos; "\\" and "\"" are the escapes, any other backslash is kept.
bool parseQuoted(std::string_view line, std::size_t& pos, std::string& text)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    text.clear();
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"'))
            ++pos;
        text += line[pos];
    }
    return false;
}

std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string hexNumber(std::uint32_t number, int width)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), Digits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    if (static_cast<int>(out.size()) < width)
        out.insert(0, static_cast<std::size_t>(width) - out.size(), '0');
    return out;
}

// regedit's layout: lines of at most 80 columns, continued with "\" and two blanks.
std::string hexLines(std::string line, std::string_view bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string piece = hexNumber(static_cast<unsigned char>(bytes[i]), 2);
        if (i + 1 < bytes.size())
            piece += ',';
        if (line.size() + piece.size() > 78) {
            out += line + "\\\n";
            line = "  ";
        }
        line += piece;
    }
    return out + line;
}

std::string valueLine(const RegFile::Value& value)
{
    std::string line = (value.name.empty() ? std::string("@") : quoted(value.name)) + "=";
    const auto& data = value.data;
    switch (value.type) {
    case RegType::Sz:
        if (!hasControlCharacter(data))
            return line + quoted(data);
        return hexLines(line + "hex(1):", utf8ToUtf16le(data));
    case RegType::Dword:
        if (data.size() == 4) {
            std::uint32_t number = 0;
            for (int i = 3; i >= 0; --i)
                number =
                    number << 8 | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
            return line + "dword:" + hexNumber(number, 8);
        }
        break;
    case RegType::Binary:
        return hexLines(line + "hex:", data);
    default:
        break;
    }
    const auto type = static_cast<std::uint32_t>(value.type);
    const std::string bytes = isTextType(value.type) ? utf8ToUtf16le(data) : data;
    return hexLines(line + "hex(" + hexNumber(type, 1) + "):", bytes);
}

std::string keyName(std::string_view rootName, const RegFile::Path& path)
{
    std::string name(rootName);
    for (const auto& part : path)
        name += "\\" + part;
    return name;
}

} // namespace

const char* RegFile::rootName(RegKey root)
{
    for (const auto& [key, name] : Roots) {
        if (key == root)
            return name;
    }
    return "";
}

bool RegFile::splitPath(const std::string& text, Path& path)
{
    path.clear();
    if (text.empty())
        return true;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\\', start);
        std::string part = text.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || hasControlCharacter(part) || !isValidUtf8(part))
            return false;
        path.push_back(std::move(part));
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

bool RegFile::validValueName(const std::string& name)
{
    return !hasControlCharacter(name) && isValidUtf8(name);
}

bool RegFile::validData(RegType type, const std::string& data)
{
    return !isTextType(type) || isValidUtf8(data);
}

RegFile RegFile::parse(const std::string& bytes)
{
    std::string text;
    if (bytes.starts_with("\xFF\xFE"))
        text = utf16leToUtf8(std::string_view(bytes).substr(2));
    else if (bytes.starts_with("\xEF\xBB\xBF"))
        text = bytes.substr(3);
    else
        text = bytes;
    if (!isValidUtf8(text))
        throw Error("the file is not UTF-8 text");

    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(std::string_view(text).substr(start, end - start));
        start = end + 1;
    }

    RegFile file;
    bool header = false;
    bool inKey = false;
    std::string rootName;
    Path path;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t number = i + 1;
        std::string line(trimmed(lines[i]));
        if (line.empty())
            continue;
        if (!header) {
            if (line != Header)
                malformed(number, "the first line must be \"" + std::string(Header) + "\"");
            header = true;
            continue;
        }
        if (line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                malformed(number, "a key name must end with \"]\"");
            std::string_view name = std::string_view(line).substr(1, line.size() - 2);
            const bool removal = name.starts_with('-');
            if (removal)
                name.remove_prefix(1);
            const std::size_t separator = name.find('\\');
            const std::string_view root = name.substr(0, separator);
            rootName.clear();
            for (const auto& entry : Roots) {
                if (sameName(root, entry.second))
                    rootName = entry.second;
            }
            if (rootName.empty())
                malformed(number, "unknown root key \"" + std::string(root) + "\"");
            if (!splitPath(separator == std::string_view::npos
                               ? std::string()
                               : std::string(name.substr(separator + 1)),
                           path))
                malformed(number, "invalid key name");
            if (removal)
                file.removeSection(rootName, path);
            else
                file.addSection(rootName, path);
            inKey = !removal;
            continue;
        }
        if (line.front() != '"' && line.front() != '@')
            malformed(number, "a value or a key name was expected");
        if (!inKey)
            malformed(number, "a value outside a key");
        while (line.back() == '\\' && i + 1 < lines.size()) {
            line.pop_back();
            line += trimmed(lines[++i]);
        }

        Value value;
        std::size_t pos = 0;
        if (line.front() == '@')
            pos = 1;
        else if (!parseQuoted(line, pos, value.name) || !validValueName(value.name))
            malformed(number, "invalid value name");
        const std::string_view rest = trimmed(std::string_view(line).substr(pos));
        if (!rest.starts_with('='))
            malformed(number, "\"=\" expected after the value name");
        const std::string_view data = trimmed(rest.substr(1));
        auto& values = file.section(rootName, path).values;
        if (data == "-") {
            std::erase_if(values, [&](const Value& v) { return sameName(v.name, value.name); });
            continue;
        }
        if (data.starts_with('"')) {
            std::size_t end = 0;
            if (!parseQuoted(data, end, value.data) || end != data.size())
                malformed(number, "invalid quoted text");
            value.type = RegType::Sz;
        } else if (data.starts_with("dword:")) {
            std::uint32_t number32 = 0;
            if (!parseHexNumber(data.substr(6), number32))
                malformed(number, "dword: needs 1 to 8 hexadecimal digits");
            value.type = RegType::Dword;
            for (int shift = 0; shift < 32; shift += 8)
                value.data += static_cast<char>((number32 >> shift) & 0xFF);
        } else if (data.starts_with("hex:") || data.starts_with("hex(")) {
            std::uint32_t type = static_cast<std::uint32_t>(RegType::Binary);
            std::size_t colon = 3;
            if (data[3] == '(') {
                const std::size_t close = data.find("):");
                if (close == std::string_view::npos ||
                    !parseHexNumber(data.substr(4, close - 4), type))
                    malformed(number, "invalid hex(type)");
                colon = close + 1;
            }
            if (!parseBytes(data.substr(colon + 1), value.data))
                malformed(number, "invalid hexadecimal bytes");
            value.type = static_cast<RegType>(type);
            if (isTextType(value.type))
                value.data = utf16leToUtf8(value.data);
        } else {
            malformed(number, "unknown kind of data");
        }
        const auto same = std::find_if(values.begin(), values.end(), [&](const Value& v) {
            return sameName(v.name, value.name);
        });
        if (same != values.end())
            *same = std::move(value);
        else
            values.push_back(std::move(value));
    }
    return file;
}

std::string RegFile::toText() const
{
    std::string text = std::string(Header) + "\n\n";
    for (const auto& entry : m_keys) {
        const Key& key = entry.second;
        text += "[" + key.name + "]\n";
        for (const auto& value : key.values)
            text += valueLine(value) + "\n";
        text += "\n";
    }
    return text;
}

RegFile::Key& RegFile::section(const std::string& rootName, const Path& path)
{
    auto [it, added] = m_keys.try_emplace(sortKey(rootName, path));
    if (added)
        it->second.name = keyName(rootName, path);
    return it->second;
}

void RegFile::addSection(const std::string& rootName, const Path& path)
{
    // Parents exist as keys of their own, as they would have been created with their child.
    for (std::size_t length = 1; length < path.size(); ++length)
        section(rootName, Path(path.begin(), path.begin() + static_cast<long>(length)));
    section(rootName, path);
}

void RegFile::removeSection(const std::string& rootName, const Path& path)
{
    const std::string key = sortKey(rootName, path);
    const std::string below = key + '\x01';
    for (auto it = m_keys.lower_bound(key);
         it != m_keys.end() && (it->first == key || it->first.starts_with(below));)
        it = m_keys.erase(it);
}

RegFile::Key* RegFile::find(RegKey root, const Path& path)
{
    const auto it = m_keys.find(sortKey(rootName(root), path));
    return it == m_keys.end() ? nullptr : &it->second;
}

const RegFile::Key* RegFile::find(RegKey root, const Path& path) const
{
    const auto it = m_keys.find(sortKey(rootName(root), path));
    return it == m_keys.end() ? nullptr : &it->second;
}

bool RegFile::hasKey(RegKey root, const Path& path) const
{
    return path.empty() || find(root, path) != nullptr;
}

const RegFile::Value* RegFile::findValue(RegKey root, const Path& path,
                                         const std::string& name) const
{
    const Key* key = find(root, path);
    if (!key)
        return nullptr;
    for (const auto& value : key->values) {
        if (sameName(value.name, name))
            return &value;
    }
    return nullptr;
}

bool RegFile::addKey(RegKey root, const Path& path)
{
    bool added = false;
    for (std::size_t length = 1; length <= path.size(); ++length) {
        const Path part(path.begin(), path.begin() + static_cast<long>(length));
        if (!find(root, part)) {
            section(rootName(root), part);
            added = true;
        }
    }
    return added;
}

bool RegFile::setValue(RegKey root, const Path& path, const Value& value)
{
    const bool added = addKey(root, path);
    auto& values = section(rootName(root), path).values;
    for (auto& existing : values) {
        if (sameName(existing.name, value.name)) {
            if (existing.type == value.type && existing.data == value.data)
                return added;
            existing.type = value.type;
            existing.data = value.data;
            return true;
        }
    }
    values.push_back(value);
    return true;
}

} // namespace pagewren
