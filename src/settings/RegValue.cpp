#include "settings/RegValue.h"

namespace pagewren {

void IntRegValue(std::int32_t N, TRegValue& V)
{
    V.ValueType = 1;
    V.IntValue = N;
}

} // namespace pagewren
