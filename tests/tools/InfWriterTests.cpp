#include "tools/wdi-simple/InfWriter.h"

#include <gtest/gtest.h>

#include <string>

namespace juv::tool {
namespace {

ToolOptions Device()
{
    ToolOptions options;
    options.vendorId = 0x1781;
    options.productId = 0x7F4;
    options.deviceName = L"JUV VCOM";
    options.manufacturer = L"Quellbrand Industrie-Elektronik oHG";
    options.driverType = DriverType::LibUsb0;
    return options;
}

bool Contains(const std::wstring& text, std::wstring_view part) { return text.find(part) != std::wstring::npos; }

TEST(MatchingId, UsesVendorAndProductInUpperCaseHex)
{
    ToolOptions options = Device();
    options.vendorId = 0xabc;
    EXPECT_EQ(MatchingId(options), L"USB\\VID_0ABC&PID_07F4");
}

TEST(MatchingId, AddsTheInterfaceForOnePartOfACompositeDevice)
{
    ToolOptions options = Device();
    options.interfaceId = 0;
    EXPECT_EQ(MatchingId(options), L"USB\\VID_1781&PID_07F4&MI_00");
    options.interfaceId = 0x1F;
    EXPECT_EQ(MatchingId(options), L"USB\\VID_1781&PID_07F4&MI_1F");
}

TEST(MatchingId, UsesTheCompatibleIdOfTheGenericDriverWithWcid)
{
    ToolOptions options = Device();
    options.interfaceId = 0;
    options.wcid = true;
    EXPECT_EQ(MatchingId(options), L"USB\\MS_COMP_LIBUSB0");
    options.driverType = DriverType::WinUsb;
    EXPECT_EQ(MatchingId(options), L"USB\\MS_COMP_WINUSB");
    options.driverType = DriverType::LibUsbK;
    EXPECT_EQ(MatchingId(options), L"USB\\MS_COMP_LIBUSBK");
}

TEST(MatchingId, RefusesWcidForADriverWithoutOne)
{
    ToolOptions options = Device();
    options.wcid = true;
    options.driverType = DriverType::UsbSer;
    EXPECT_THROW(MatchingId(options), ToolError);
    EXPECT_THROW(InfText(options), ToolError);
}

TEST(InfText, MatchesTheDeviceAndNamesItsDriver)
{
    ToolOptions options = Device();
    options.interfaceId = 0;
    const std::wstring text = InfText(options);
    EXPECT_TRUE(Contains(text, L"%DeviceName% = DriverInstall, USB\\VID_1781&PID_07F4&MI_00\r\n"));
    EXPECT_TRUE(Contains(text, L"AddService = libusb0, 0x00000002, DriverService\r\n"));
    EXPECT_TRUE(Contains(text, L"ServiceBinary = %12%\\libusb0.sys\r\n"));
    EXPECT_TRUE(Contains(text, L"[Strings]\r\n"));
    EXPECT_TRUE(Contains(text, L"DeviceName = \"JUV VCOM\"\r\n"));
    EXPECT_TRUE(Contains(text, L"ManufacturerName = \"Quellbrand Industrie-Elektronik oHG\"\r\n"));
    EXPECT_FALSE(Contains(text, L"MS_COMP"));
}

TEST(InfText, WithoutInterfaceMatchesTheWholeDevice)
{
    const std::wstring text = InfText(Device());
    EXPECT_TRUE(Contains(text, L"DriverInstall, USB\\VID_1781&PID_07F4\r\n"));
    EXPECT_FALSE(Contains(text, L"&MI_"));
}

TEST(InfText, WcidVariantMatchesTheCompatibleIdInsteadOfTheDevice)
{
    ToolOptions options = Device();
    options.interfaceId = 0;
    options.wcid = true;
    const std::wstring text = InfText(options);
    EXPECT_TRUE(Contains(text, L"%DeviceName% = DriverInstall, USB\\MS_COMP_LIBUSB0\r\n"));
    EXPECT_FALSE(Contains(text, L"DriverInstall, USB\\VID_"));
    EXPECT_TRUE(Contains(text, L"(written for USB\\VID_1781&PID_07F4&MI_00)"));
}

TEST(InfText, SaysNothingWasInstalled)
{
    const std::wstring text = InfText(Device());
    EXPECT_TRUE(Contains(text, L"; Written by the wdi-simple stand-in; nothing was installed on this system.\r\n"));
}

TEST(InfText, NamesTheServiceOfEachDriverKind)
{
    const std::pair<DriverType, const wchar_t*> kinds[] = {
        {DriverType::WinUsb, L"winusb.sys"}, {DriverType::LibUsb0, L"libusb0.sys"},
        {DriverType::LibUsbK, L"libusbK.sys"}, {DriverType::UsbSer, L"usbser.sys"},
        {DriverType::Custom, L"custom_usb_driver.sys"}};
    for (const auto& [type, binary] : kinds) {
        ToolOptions options = Device();
        options.driverType = type;
        EXPECT_EQ(DriverBinary(type), binary);
        EXPECT_TRUE(Contains(InfText(options), L"ServiceBinary = %12%\\" + std::wstring(binary) + L"\r\n"));
    }
    ToolOptions serial = Device();
    serial.driverType = DriverType::UsbSer;
    EXPECT_TRUE(Contains(InfText(serial), L"Class = Ports\r\n"));
}

TEST(InfText, EndsEveryLineWithCrLf)
{
    const std::wstring text = InfText(Device());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(text[i - 1], L'\r') << "bare LF at " << i;
            ++lines;
        } else if (text[i] == L'\r') {
            ASSERT_LT(i + 1, text.size());
            EXPECT_EQ(text[i + 1], L'\n') << "bare CR at " << i;
        }
    }
    EXPECT_GT(lines, 20u);
}

TEST(InfText, QuotesAndPercentSignsInNamesAreDoubled)
{
    ToolOptions options = Device();
    options.deviceName = L"The \"Best\" 100% Port";
    EXPECT_TRUE(Contains(InfText(options), L"DeviceName = \"The \"\"Best\"\" 100%% Port\"\r\n"));
}

TEST(EncodeInf, WritesAsciiTextAsIs)
{
    EXPECT_EQ(EncodeInf(L"[Version]\r\n"), "[Version]\r\n");
}

TEST(EncodeInf, WritesOtherTextAsUtf16WithByteOrderMark)
{
    EXPECT_EQ(EncodeInf(L"A\u00FC\u65E5"), std::string("\xFF\xFE" "A\0\xFC\0\xE5\x65", 8));
    ToolOptions options = Device();
    options.manufacturer = L"Pr\u00FCf";
    const std::string bytes = EncodeInf(InfText(options));
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_NE(bytes.find(std::string("P\0r\0\xFC\0f\0", 8)), std::string::npos);
}

} // namespace
} // namespace juv::tool
