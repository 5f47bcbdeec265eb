#pragma once

#include "settings/Registry.h"

#include <cstdint>
#include <string>
#include <variant>

namespace pagewren {

class Prompts;

// A value read from the registry: a text, or an integer for binary and 32-bit data.
using RegData = std::variant<std::string, std::int32_t>;

// Reads and writes single registry values, opening and closing the key on every call. Failures
// the registry reports (no such key, no rights) are not errors: readers give defaults, writers
// store nothing. An exception raised inside an operation is shown in an error box and raised
// again.
class CReg {
public:
    // The current user's registry store; errors in the system's error box.
    CReg();
    // Both are borrowed and must outlive this object.
    CReg(Registry& registry, Prompts& prompts);
    virtual ~CReg();
    CReg(const CReg&) = delete;
    CReg& operator=(const CReg&) = delete;

    // Text data as it is stored (a stored NUL included); binary and 32-bit data as the signed
    // integer of its first four bytes, least significant first (missing bytes count as 0); ""
    // for other types and for a missing key or value.
    void RegReadValue(const std::string& KeyName, const std::string& ValueName, RegKey RootKey,
                      RegData& Value);
    // The value as text without leading and trailing characters of code 32 or below, or the
    // Default trimmed alike when that is empty. Throws Error("Reg:RegGet") on an exception.
    std::string RegGet(const std::string& KeyName, const std::string& ValueName,
                       const std::string& Default, RegKey RootKey);
    // Writes Data as a text value, creating the key and any missing parents. Data is stored
    // without a terminating NUL.
    void RegCreateNewKey(const std::string& KeyName, const std::string& ValueName,
                         const std::string& Data, RegKey RootKey);
    void RegSet(const std::string& KeyName, const std::string& ValueName, const std::string& Data,
                RegKey RootKey);
    // "HKEY_CURRENT_USER" and the like for the predefined roots; "" for any other key.
    std::string ConvertRootKey(RegKey RootKey) const;
    // Shows Text in the modal "Error" box.
    void ShowRegError(const std::string& Text);

private:
    Registry& m_registry;
    Prompts& m_prompts;
};

} // namespace pagewren
