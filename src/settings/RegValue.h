#pragma once

#include <cstdint>
#include <string>

namespace pagewren {

// A value to store in the registry, tagged by ValueType: 0 text, 1 integer, 2 float, 3 boolean.
// Every field is present; only the one ValueType names is used.
struct TRegValue {
    std::uint8_t ValueType = 0;
    std::int32_t IntValue = 0;
    std::string StrValue;
    long double FloatValue = 0;
    bool BoolValue = false;
};

// Makes V the integer N; its other fields stay as they are.
void IntRegValue(std::int32_t N, TRegValue& V);

} // namespace pagewren
