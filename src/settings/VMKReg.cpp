#include "settings/VMKReg.h"

#include "util/StrUtil.h"

#include <QLocale>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace pagewren {

namespace {

int digitValue(char c, int base)
{
    int value = 99;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

bool toInteger(std::string_view text, std::int32_t& result)
{
    while (text.starts_with(' '))
        text.remove_prefix(1);
    bool negative = false;
    if (text.starts_with('+') || text.starts_with('-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    for (const std::string_view prefix : {"$", "x", "X", "0x", "0X"}) {
        if (text.starts_with(prefix)) {
            base = 16;
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.empty())
        return false;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    result = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

// The shortest text of the value to 15 significant digits; scientific notation when the decimal
// exponent is below -5 or the integer part would need more than 15 digits.
std::string generalFloat(long double value)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    if (value == 0)
        return "0";
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14Le", value); // d.dddddddddddddde[+-]x
    const std::string_view text(buffer);
    const std::size_t e = text.find('e');
    const bool negative = text.front() == '-';
    std::string digits;
    for (const char c : text.substr(0, e)) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int exponent = std::atoi(buffer + e + 1);

    std::string out = negative ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        out += digits.front();
        if (digits.size() > 1)
            out += separator + digits.substr(1);
        return out + "E" + std::to_string(exponent);
    }
    if (exponent < 0)
        return out + "0" + separator + std::string(static_cast<std::size_t>(-exponent - 1), '0') +
               digits;
    const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integerDigits)
        return out + digits + std::string(integerDigits - digits.size(), '0');
    return out + digits.substr(0, integerDigits) + separator + digits.substr(integerDigits);
}

} // namespace

std::int32_t TVMKReg::GetInt(const std::string& Name, std::int32_t Default)
{
    try {
        std::int32_t value = 0;
        return toInteger(GetString(Name, std::to_string(Default)), value) ? value : Default;
    } catch (...) {
        return Default;
    }
}

std::string TVMKReg::GetString(const std::string& Name, const std::string& Default)
{
    return RegGet(ProductKey, Name, Default, RegKey::CurrentUser);
}

void TVMKReg::SetValue(const std::string& Name, const TRegValue& V)
{
    std::string text;
    switch (V.ValueType) {
    case 0:
        text = V.StrValue;
        break;
    case 1:
        text = std::to_string(V.IntValue);
        break;
    case 2:
        text = generalFloat(V.FloatValue);
        break;
    case 3:
        text = ChooseText(V.BoolValue, "true", "false");
        break;
    default:
        return;
    }
    RegSet(ProductKey, Name, text, RegKey::CurrentUser);
}

} // namespace pagewren
