#pragma once

#include "tools/wdi-simple/ToolError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace juv::tool {

// The numbers are the ones --type takes.
enum class DriverType { WinUsb = 0, LibUsb0 = 1, LibUsbK = 2, UsbSer = 3, Custom = 4 };

struct ToolOptions {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // Set only for one interface of a composite device.
    std::optional<std::uint8_t> interfaceId;
    std::wstring deviceName = L"USB Device";
    std::wstring manufacturer = L"Unknown Manufacturer";
    DriverType driverType = DriverType::WinUsb;
    bool wcid = false;
    std::wstring destination = L"usb_driver";
    std::wstring infName = L"usb_device.inf";
    bool extractOnly = false;
    bool help = false;
};

// Reads a whole text as C's strtol with base 0 would: "0x"/"0X" hexadecimal, a leading "0"
// octal, else decimal, with an optional sign. Nothing else may be in the text, not even blanks.
// Magnitudes beyond 2^32 come back as 2^32, which is out of every range the tool takes, so the
// caller can still tell "too big" from "not a number".
std::optional<std::int64_t> ReadInteger(std::wstring_view text);

// Parses the arguments after the program name. Throws ToolError with a message that names the
// option and the offending text. With --help, missing --vid/--pid are no error.
ToolOptions ParseToolOptions(const std::vector<std::wstring>& args);

// The option list shown for --help and after a command-line error.
std::wstring UsageText();

std::wstring DriverTypeName(DriverType type);

} // namespace juv::tool
