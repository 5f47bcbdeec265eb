#pragma once

#include "settings/Reg.h"
#include "settings/RegValue.h"

#include <cstdint>
#include <string>

namespace pagewren {

// The key of this product's values under HKEY_CURRENT_USER.
inline constexpr char ProductKey[] = "Software\\Tallowmere\\Pagewren";

// This product's values (window placement) under HKEY_CURRENT_USER\ProductKey, all stored as
// text.
class TVMKReg : public CReg {
public:
    using CReg::CReg;

    // The stored integer: optional leading blanks and sign, then decimal digits or hexadecimal
    // ones after "$", "x" or "0x", within 32 bits. Default for anything else, and on any error.
    std::int32_t GetInt(const std::string& Name, std::int32_t Default);
    std::string GetString(const std::string& Name, const std::string& Default);
    // Writes V as text: the text itself, the decimal integer, the float with 15 significant
    // digits, or "true"/"false". A ValueType outside 0 to 3 writes nothing.
    void SetValue(const std::string& Name, const TRegValue& V);
};

} // namespace pagewren
