#include "scan/TwainConstants.h"

#include <cstdio>

namespace pagewren::twain {

std::string capabilityName(std::uint16_t cap)
{
    switch (cap) {
    case ICAP_PIXELTYPE:
        return "ICAP_PIXELTYPE";
    case ICAP_BITDEPTH:
        return "ICAP_BITDEPTH";
    case ICAP_XRESOLUTION:
        return "ICAP_XRESOLUTION";
    case ICAP_YRESOLUTION:
        return "ICAP_YRESOLUTION";
    case CAP_FEEDERENABLED:
        return "CAP_FEEDERENABLED";
    case CAP_FEEDERLOADED:
        return "CAP_FEEDERLOADED";
    case CAP_AUTOFEED:
        return "CAP_AUTOFEED";
    case CAP_INDICATORS:
        return "CAP_INDICATORS";
    case CAP_PAPERDETECTABLE:
        return "CAP_PAPERDETECTABLE";
    case CAP_AUTOSCAN:
        return "CAP_AUTOSCAN";
    default:
        break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(cap));
    return text;
}

} // namespace pagewren::twain
