#pragma once

#include <optional>
#include <string>

namespace pagewren {

// Reads values from an INI file by the rules Windows applies: section and key names compared
// without regard to letter case, names and values trimmed, a value in matching quotes taken
// without them, only the first section of a name searched. A file that cannot be read has no
// values.
class IniFile {
public:
    explicit IniFile(std::string path);

    // The value of Key in Section; nullopt when the file, the section or the key is missing.
    std::optional<std::string> ReadString(const std::string& Section, const std::string& Key) const;

    // A decimal integer value (optional sign, digits, within 32 bits); Default when the value is
    // missing or not such an integer.
    int ReadInteger(const std::string& Section, const std::string& Key, int Default) const;

private:
    std::string m_path;
};

} // namespace pagewren
