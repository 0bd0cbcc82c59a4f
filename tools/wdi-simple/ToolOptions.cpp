#include "tools/wdi-simple/ToolOptions.h"

#include <algorithm>
#include <array>

namespace juv::tool {

namespace {

constexpr std::int64_t Saturated = std::int64_t{1} << 32;

enum class Takes { Nothing, Value };

struct OptionInfo {
    std::wstring_view name;
    Takes takes;
    std::wstring_view placeholder;
    std::wstring_view usage;
};

constexpr std::array Options{
    OptionInfo{L"--vid", Takes::Value, L"<id>", L"set the vendor ID (VID, use 0x prefix for hex)"},
    OptionInfo{L"--pid", Takes::Value, L"<id>", L"set the product ID (PID, use 0x prefix for hex)"},
    OptionInfo{L"--iid", Takes::Value, L"<id>", L"set the interface ID (MI)"},
    OptionInfo{L"--name", Takes::Value, L"<name>", L"set the device name"},
    OptionInfo{L"--manufacturer", Takes::Value, L"<name>", L"set the manufacturer name"},
    OptionInfo{L"--type", Takes::Value, L"<driver>",
               L"set the driver to install\n"
               L"(0=WinUSB, 1=libusb-win32, 2=libusbK, 3=usbser, 4=custom)"},
    OptionInfo{L"--wcid", Takes::Nothing, L"",
               L"use a WCID driver instead of a device-specific\n"
               L"one (WinUSB, libusb-win32 or libusbK only)"},
    OptionInfo{L"--dest", Takes::Value, L"<folder>",
               L"set the destination directory (default: usb_driver)"},
    OptionInfo{L"--inf", Takes::Value, L"<file>",
               L"set the name of the INF file (default: usb_device.inf)"},
    OptionInfo{L"--extract", Takes::Nothing, L"", L"extract the driver files only; install nothing"},
    OptionInfo{L"--help", Takes::Nothing, L"", L"display usage"},
};

int DigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return 99;
}

std::wstring Quoted(std::wstring_view text) { return L"'" + std::wstring(text) + L"'"; }

std::int64_t NumberIn(std::wstring_view option, std::wstring_view text, std::int64_t maximum,
                      std::wstring_view rangeText)
{
    const auto value = ReadInteger(text);
    if (!value) {
        std::wstring message = std::wstring(option) + L": " + Quoted(text) + L" is not a number";
        // "08" is the one people write by mistake: strtol reads a leading 0 as octal.
        const bool allDigits = !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) {
            return c >= L'0' && c <= L'9';
        });
        if (allDigits && text.front() == L'0') message += L" (a leading 0 means octal)";
        throw ToolError(message);
    }
    if (*value < 0 || *value > maximum)
        throw ToolError(std::wstring(option) + L": " + std::wstring(text) + L" " + std::wstring(rangeText));
    return *value;
}

std::wstring CheckedText(std::wstring_view option, const std::wstring& value)
{
    // A line break in a name would break the INF apart; no caller has a reason to send one.
    if (std::any_of(value.begin(), value.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; }))
        throw ToolError(std::wstring(option) + L": control characters are not allowed");
    return value;
}

std::wstring CheckedFileName(std::wstring_view option, const std::wstring& value)
{
    // The INF goes into the destination folder and nowhere else, so no folders in its name, and
    // none of the characters Windows refuses in a file name.
    const bool bad = value == L"." || value == L".." ||
                     value.find_first_of(L"<>:\"/\\|?*") != std::wstring::npos;
    if (bad) throw ToolError(std::wstring(option) + L": " + Quoted(value) + L" is not a plain file name");
    return CheckedText(option, value);
}

void Apply(ToolOptions& options, std::wstring_view name, const std::wstring& value)
{
    if (name == L"--vid") {
        options.vendorId = static_cast<std::uint16_t>(NumberIn(name, value, 0xFFFF, L"does not fit in 16 bits"));
    } else if (name == L"--pid") {
        options.productId = static_cast<std::uint16_t>(NumberIn(name, value, 0xFFFF, L"does not fit in 16 bits"));
    } else if (name == L"--iid") {
        options.interfaceId = static_cast<std::uint8_t>(NumberIn(name, value, 0xFF, L"does not fit in 8 bits"));
    } else if (name == L"--name") {
        options.deviceName = CheckedText(name, value);
    } else if (name == L"--manufacturer") {
        options.manufacturer = CheckedText(name, value);
    } else if (name == L"--type") {
        options.driverType = static_cast<DriverType>(
            NumberIn(name, value, 4, L"is not a driver type (0=WinUSB, 1=libusb-win32, 2=libusbK, 3=usbser, 4=custom)"));
    } else if (name == L"--dest") {
        options.destination = CheckedText(name, value);
    } else if (name == L"--inf") {
        options.infName = CheckedFileName(name, value);
    } else if (name == L"--wcid") {
        options.wcid = true;
    } else if (name == L"--extract") {
        options.extractOnly = true;
    } else if (name == L"--help") {
        options.help = true;
    }
}

} // namespace

std::optional<std::int64_t> ReadInteger(std::wstring_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == L'+' || text.front() == L'-')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == L'0') {
        base = 8;
    }
    if (text.empty()) return std::nullopt;

    std::int64_t value = 0;
    for (const wchar_t c : text) {
        const int digit = DigitValue(c);
        if (digit >= base) return std::nullopt;
        value = std::min(value * base + digit, Saturated);
    }
    return negative ? -value : value;
}

ToolOptions ParseToolOptions(const std::vector<std::wstring>& args)
{
    ToolOptions options;
    bool vidGiven = false;
    bool pidGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg.rfind(L"--", 0) != 0) throw ToolError(L"unexpected argument " + Quoted(arg));

        const auto equals = arg.find(L'=');
        const std::wstring_view name = std::wstring_view(arg).substr(0, equals);
        const auto info = std::find_if(Options.begin(), Options.end(),
                                       [&](const OptionInfo& o) { return o.name == name; });
        if (info == Options.end()) throw ToolError(L"unknown option " + Quoted(name));

        std::wstring value;
        if (info->takes == Takes::Nothing) {
            if (equals != std::wstring::npos) throw ToolError(std::wstring(name) + L" takes no value");
        } else if (equals != std::wstring::npos) {
            value = arg.substr(equals + 1);
            if (value.empty()) throw ToolError(std::wstring(name) + L" needs a value");
        } else {
            // A following option is a forgotten value, not a value that starts with dashes.
            if (i + 1 >= args.size() || args[i + 1].rfind(L"--", 0) == 0)
                throw ToolError(std::wstring(name) + L" needs a value");
            value = args[++i];
        }
        Apply(options, name, value);
        vidGiven = vidGiven || name == L"--vid";
        pidGiven = pidGiven || name == L"--pid";
    }

    if (options.help) return options;
    if (!vidGiven) throw ToolError(L"--vid is required");
    if (!pidGiven) throw ToolError(L"--pid is required");
    if (options.wcid && (options.driverType == DriverType::UsbSer || options.driverType == DriverType::Custom))
        throw ToolError(L"--wcid works only with WinUSB, libusb-win32 or libusbK (--type 0, 1 or 2), not with " +
                        DriverTypeName(options.driverType));
    return options;
}

std::wstring UsageText()
{
    constexpr std::size_t Column = 24;
    std::wstring text = L"usage: wdi-simple --vid <id> --pid <id> [options]\n";
    for (const OptionInfo& option : Options) {
        std::wstring head = L"  " + std::wstring(option.name);
        if (!option.placeholder.empty()) head += L" " + std::wstring(option.placeholder);
        head.resize(std::max(Column, head.size() + 1), L' ');
        std::wstring_view usage = option.usage;
        for (bool first = true; !usage.empty(); first = false) {
            const auto end = usage.find(L'\n');
            text += (first ? head : std::wstring(Column, L' ')) + std::wstring(usage.substr(0, end)) + L"\n";
            usage = end == std::wstring_view::npos ? std::wstring_view() : usage.substr(end + 1);
        }
    }
    text += L"\nThis stand-in writes the driver files and installs nothing.\n";
    return text;
}

std::wstring DriverTypeName(DriverType type)
{
    switch (type) {
    case DriverType::WinUsb: return L"WinUSB";
    case DriverType::LibUsb0: return L"libusb-win32";
    case DriverType::LibUsbK: return L"libusbK";
    case DriverType::UsbSer: return L"usbser";
    case DriverType::Custom: return L"custom";
    }
    return L"unknown";
}

} // namespace juv::tool
