#include "tools/wdi-simple/InfWriter.h"

#include "tools/wdi-simple/Text.h"

#include <algorithm>
#include <cstdint>

namespace juv::tool {

namespace {

struct DriverInfo {
    std::wstring_view service;
    std::wstring_view binary;
    std::wstring_view compatibleId; // empty: no generic WCID driver of this kind
};

DriverInfo InfoFor(DriverType type)
{
    switch (type) {
    case DriverType::WinUsb: return {L"WinUSB", L"winusb.sys", L"USB\\MS_COMP_WINUSB"};
    case DriverType::LibUsb0: return {L"libusb0", L"libusb0.sys", L"USB\\MS_COMP_LIBUSB0"};
    case DriverType::LibUsbK: return {L"libusbK", L"libusbK.sys", L"USB\\MS_COMP_LIBUSBK"};
    case DriverType::UsbSer: return {L"usbser", L"usbser.sys", L""};
    case DriverType::Custom: return {L"CustomUsbDriver", L"custom_usb_driver.sys", L""};
    }
    throw ToolError(L"unknown driver type " + std::to_wstring(static_cast<int>(type)));
}

std::wstring Hex(unsigned value, int digits)
{
    static constexpr wchar_t Digits[] = L"0123456789ABCDEF";
    std::wstring text(static_cast<std::size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = Digits[value & 0xF];
    return text;
}

// In an INF string value a double quote is written twice; a percent sign would start a string
// key, so it is doubled as well.
std::wstring InfString(std::wstring_view text)
{
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        if (c == L'"' || c == L'%') quoted += c;
        quoted += c;
    }
    return quoted + L"\"";
}

std::wstring DeviceId(const ToolOptions& options)
{
    std::wstring id = L"USB\\VID_" + Hex(options.vendorId, 4) + L"&PID_" + Hex(options.productId, 4);
    if (options.interfaceId) id += L"&MI_" + Hex(*options.interfaceId, 2);
    return id;
}

} // namespace

std::wstring MatchingId(const ToolOptions& options)
{
    if (!options.wcid) return DeviceId(options);
    const DriverInfo info = InfoFor(options.driverType);
    if (info.compatibleId.empty())
        throw ToolError(L"there is no WCID driver of the kind " + DriverTypeName(options.driverType));
    return std::wstring(info.compatibleId);
}

std::wstring DriverBinary(DriverType type) { return std::wstring(InfoFor(type).binary); }

std::wstring InfText(const ToolOptions& options)
{
    const DriverInfo driver = InfoFor(options.driverType);
    const std::wstring id = MatchingId(options);
    // usbser drives serial ports; every other kind is a plain USB device to Windows.
    const bool port = options.driverType == DriverType::UsbSer;

    std::wstring lines[] = {
        L"; " + options.infName + L": setup information for " + options.deviceName,
        L"; Written by the wdi-simple stand-in; nothing was installed on this system.",
        L"; The driver binary " + std::wstring(driver.binary) + L" is not among the files written.",
        options.wcid ? L"; Generic WCID driver: matches any device that reports " + id +
                           L" (written for " + DeviceId(options) + L")."
                     : L"; Device-specific driver for " + id + L".",
        L"",
        L"[Version]",
        L"Signature = \"$Windows NT$\"",
        port ? L"Class = Ports" : L"Class = USBDevice",
        port ? L"ClassGuid = {4D36E978-E325-11CE-BFC1-08002BE10318}"
             : L"ClassGuid = {88BAE032-5A81-49F0-BC3D-A4FF138216D6}",
        L"Provider = %ProviderName%",
        L"DriverVer = 01/01/2024,1.0.0.0",
        L"",
        L"[Manufacturer]",
        L"%ManufacturerName% = Devices, NTx86, NTamd64",
        L"",
        L"[Devices.NTx86]",
        L"%DeviceName% = DriverInstall, " + id,
        L"",
        L"[Devices.NTamd64]",
        L"%DeviceName% = DriverInstall, " + id,
        L"",
        L"[DriverInstall]",
        L"; Nothing to copy: the stand-in carries no driver binary.",
        L"",
        L"[DriverInstall.Services]",
        L"AddService = " + std::wstring(driver.service) + L", 0x00000002, DriverService",
        L"",
        L"[DriverService]",
        L"DisplayName = %ServiceName%",
        L"ServiceType = 1",
        L"StartType = 3",
        L"ErrorControl = 1",
        L"ServiceBinary = %12%\\" + std::wstring(driver.binary),
        L"",
        L"[Strings]",
        L"ProviderName = " + InfString(L"wdi-simple stand-in"),
        L"ManufacturerName = " + InfString(options.manufacturer),
        L"DeviceName = " + InfString(options.deviceName),
        L"ServiceName = " + InfString(DriverTypeName(options.driverType) + L" driver (" +
                                      std::wstring(driver.binary) + L")"),
    };

    std::wstring text;
    for (const std::wstring& line : lines) text += line + L"\r\n";
    return text;
}

std::string EncodeInf(std::wstring_view text)
{
    const bool ascii = std::all_of(text.begin(), text.end(), [](wchar_t c) { return static_cast<std::uint32_t>(c) < 0x80; });
    if (ascii) return std::string(text.begin(), text.end());
    return "\xFF\xFE" + ToUtf16Le(text);
}

} // namespace juv::tool
