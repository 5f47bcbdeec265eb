#pragma once

#include "settings/Registry.h"

#include <map>
#include <string>
#include <vector>

namespace pagewren {

// The keys and values of a registry file in the regedit export format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Tallowmere\Pagewren]
//   "util_Left"="200"
//   "count"=dword:00000078
//   "bytes"=hex:78,00,00,00
//   "path"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00
//
// A quoted text holds exactly its characters (no NUL is added); text that cannot be quoted is
// written as hex(1). hex(1), hex(2) and hex(7) hold UTF-16LE as regedit writes them and become
// UTF-8 in memory. Files are read as UTF-8, with or without byte-order mark, or as UTF-16LE with
// its byte-order mark (regedit's own exports).
class RegFile {
public:
    struct Value {
        std::string name;
        RegType type = RegType::None;
        std::string data;
    };
    using Path = std::vector<std::string>;

    // Throws Error naming the line when the text is not in the format. Only blanks, or nothing,
    // give an empty file.
    static RegFile parse(const std::string& bytes);
    std::string toText() const;

    // The name of a predefined root ("HKEY_CURRENT_USER"); "" for any other handle.
    static const char* rootName(RegKey root);
    // Splits a key path at "\"; false when a part is empty or no valid name.
    static bool splitPath(const std::string& text, Path& path);
    static bool validValueName(const std::string& name);
    // Text types must carry UTF-8.
    static bool validData(RegType type, const std::string& data);

    bool hasKey(RegKey root, const Path& path) const;
    // The value, or nullptr when the key or the value is missing.
    const Value* findValue(RegKey root, const Path& path, const std::string& name) const;
    // Adds the key and any missing parents; false when all of them existed.
    bool addKey(RegKey root, const Path& path);
    // Stores the value, adding the key when needed; false when it held exactly this already.
    bool setValue(RegKey root, const Path& path, const Value& value);

private:
    struct Key {
        std::string name; // as written: root name and path
        std::vector<Value> values;
    };
    Key* find(RegKey root, const Path& path);
    const Key* find(RegKey root, const Path& path) const;
    void addSection(const std::string& rootName, const Path& path);
    void removeSection(const std::string& rootName, const Path& path);
    Key& section(const std::string& rootName, const Path& path);

    // Sorted so that every key comes right before its subkeys.
    std::map<std::string, Key> m_keys;
};

} // namespace pagewren
