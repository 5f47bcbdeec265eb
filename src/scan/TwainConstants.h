#pragma once

#include <cstdint>
#include <string>

// The TWAIN codes the scanner component speaks in, whatever driver sits beneath it. Failures,
// capabilities and device events keep these numbers so that reports read the same on every
// platform.
namespace pagewren::twain {

// Data groups, argument types and messages that name a failed operation.
inline constexpr std::uint32_t DG_CONTROL = 0x0001;
inline constexpr std::uint32_t DG_IMAGE = 0x0002;

inline constexpr std::uint16_t DAT_IDENTITY = 0x0003;
inline constexpr std::uint16_t DAT_PARENT = 0x0004;
inline constexpr std::uint16_t DAT_IMAGENATIVEXFER = 0x0104;

inline constexpr std::uint16_t MSG_GET = 0x0001;
inline constexpr std::uint16_t MSG_GETFIRST = 0x0004;
inline constexpr std::uint16_t MSG_OPENDSM = 0x0301;
inline constexpr std::uint16_t MSG_OPENDS = 0x0401;

// Return codes and condition codes.
inline constexpr int TWRC_FAILURE = 1;
inline constexpr int TWCC_BUMMER = 1;
inline constexpr int TWCC_NODS = 3;
inline constexpr int TWCC_SEQERROR = 11;

// Capabilities the program negotiates.
inline constexpr std::uint16_t ICAP_PIXELTYPE = 0x0101;
inline constexpr std::uint16_t ICAP_BITDEPTH = 0x112B;
inline constexpr std::uint16_t ICAP_XRESOLUTION = 0x1118;
inline constexpr std::uint16_t ICAP_YRESOLUTION = 0x1119;
inline constexpr std::uint16_t CAP_FEEDERENABLED = 0x1002;
inline constexpr std::uint16_t CAP_FEEDERLOADED = 0x1003;
inline constexpr std::uint16_t CAP_AUTOFEED = 0x1007;
inline constexpr std::uint16_t CAP_INDICATORS = 0x100B;
inline constexpr std::uint16_t CAP_PAPERDETECTABLE = 0x100D;
inline constexpr std::uint16_t CAP_AUTOSCAN = 0x1010;

// Pixel types.
inline constexpr int TWPT_BW = 0;
inline constexpr int TWPT_GRAY = 1;
inline constexpr int TWPT_RGB = 2;

// Device events (TTwnDeviceEvent).
enum TwnDeviceEvent : int {
    TWDE_CHECKAUTOMATICCAPTURE = 0,
    TWDE_CHECKBATTERY = 1,
    TWDE_CHECKDEVICEONLINE = 2,
    TWDE_CHECKFLASH = 3,
    TWDE_CHECKPOWERSUPPLY = 4,
    TWDE_CHECKRESOLUTION = 5,
    TWDE_DEVICEADDED = 6,
    TWDE_DEVICEOFFLINE = 7,
    TWDE_DEVICEREADY = 8,
    TWDE_DEVICEREMOVED = 9,
    TWDE_IMAGECAPTURED = 10,
    TWDE_IMAGEDELETED = 11,
    TWDE_PAPERDOUBLEFEED = 12,
    TWDE_PAPERJAM = 13,
    TWDE_LAMPFAILURE = 14,
    TWDE_POWERSAVE = 15,
    TWDE_POWERSAVENOTIFY = 16,
};

// The TWAIN name of a capability this program knows, else its code in hexadecimal.
std::string capabilityName(std::uint16_t cap);

} // namespace pagewren::twain
