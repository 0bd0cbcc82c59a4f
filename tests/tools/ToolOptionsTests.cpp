#include "tools/wdi-simple/ToolOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace juv::tool {
namespace {

using Args = std::vector<std::wstring>;

// Splits a command line the way Windows does for the cases the installer uses: blanks separate,
// double quotes group, runs of blanks make no empty items. (No backslash rules: none are used.)
Args SplitCommandLine(std::wstring_view line)
{
    Args args;
    std::wstring current;
    bool inQuotes = false;
    bool inItem = false;
    for (const wchar_t c : line) {
        if (c == L'"') {
            inQuotes = !inQuotes;
            inItem = true;
        } else if ((c == L' ' || c == L'\t') && !inQuotes) {
            if (inItem) args.push_back(current);
            current.clear();
            inItem = false;
        } else {
            current += c;
            inItem = true;
        }
    }
    if (inItem) args.push_back(current);
    return args;
}

Args WithIds(Args rest)
{
    Args args{L"--vid", L"1", L"--pid", L"2"};
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
}

// The message a parse throws, or a marker that it did not throw.
std::wstring ErrorOf(const Args& args)
{
    try {
        ParseToolOptions(args);
    } catch (const ToolError& error) {
        return error.Message();
    }
    return L"<no error>";
}

TEST(ReadInteger, ReadsHexOctalAndDecimalLikeStrtolBaseZero)
{
    EXPECT_EQ(ReadInteger(L"0x7F4"), 2036);
    EXPECT_EQ(ReadInteger(L"0x07F4"), 2036);
    EXPECT_EQ(ReadInteger(L"0X7f4"), 2036);
    EXPECT_EQ(ReadInteger(L"00"), 0);
    EXPECT_EQ(ReadInteger(L"0"), 0);
    EXPECT_EQ(ReadInteger(L"010"), 8);
    EXPECT_EQ(ReadInteger(L"6017"), 6017);
    EXPECT_EQ(ReadInteger(L"+12"), 12);
    EXPECT_EQ(ReadInteger(L"-12"), -12);
    EXPECT_EQ(ReadInteger(L"-0x10"), -16);
}

TEST(ReadInteger, RefusesTextThatIsNotOneWholeNumber)
{
    for (const wchar_t* text : {L"", L"08", L"09", L"0x", L"0x1G", L"1a", L"x1", L" 1", L"1 ", L"+", L"-",
                                L"--1", L"0x-1", L"1.0", L"\x0661"}) {
        EXPECT_EQ(ReadInteger(text), std::nullopt) << "text: " << testing::PrintToString(std::wstring(text));
    }
}

TEST(ReadInteger, KeepsHugeValuesOutOfEveryRange)
{
    EXPECT_GT(*ReadInteger(L"99999999999999999999999999999999"), 0xFFFF'FFFFLL);
    EXPECT_GT(*ReadInteger(L"0xFFFFFFFFFFFFFFFFFFFFFFFF"), 0xFFFF'FFFFLL);
    EXPECT_LT(*ReadInteger(L"-99999999999999999999999999999999"), 0);
}

TEST(ParseToolOptions, ReadsTheInstallersCommandLineWithWcid)
{
    const auto args = SplitCommandLine(
        L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer "
        L"\"Quellbrand Industrie-Elektronik oHG\" --type 1  --wcid");
    ASSERT_EQ(args.size(), 13u);
    const ToolOptions options = ParseToolOptions(args);
    EXPECT_EQ(options.vendorId, 0x1781);
    EXPECT_EQ(options.productId, 0x07F4);
    EXPECT_EQ(options.interfaceId, std::optional<std::uint8_t>(0));
    EXPECT_EQ(options.deviceName, L"JUV VCOM");
    EXPECT_EQ(options.manufacturer, L"Quellbrand Industrie-Elektronik oHG");
    EXPECT_EQ(options.driverType, DriverType::LibUsb0);
    EXPECT_TRUE(options.wcid);
    EXPECT_FALSE(options.help);
    EXPECT_EQ(options.destination, L"usb_driver");
    EXPECT_EQ(options.infName, L"usb_device.inf");
}

TEST(ParseToolOptions, ReadsTheInstallersCommandLineWithoutWcid)
{
    const auto args = SplitCommandLine(
        L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer "
        L"\"Quellbrand Industrie-Elektronik oHG\" --type 1 ");
    ASSERT_EQ(args.size(), 12u);
    const ToolOptions options = ParseToolOptions(args);
    EXPECT_EQ(options.vendorId, 0x1781);
    EXPECT_EQ(options.productId, 0x07F4);
    EXPECT_EQ(options.interfaceId, std::optional<std::uint8_t>(0));
    EXPECT_EQ(options.manufacturer, L"Quellbrand Industrie-Elektronik oHG");
    EXPECT_EQ(options.driverType, DriverType::LibUsb0);
    EXPECT_FALSE(options.wcid);
}

TEST(ParseToolOptions, TakesValuesAfterABlankOrAnEqualsSign)
{
    const ToolOptions options = ParseToolOptions(
        {L"--vid=0xFFFF", L"--pid", L"010", L"--iid=255", L"--type=2", L"--dest=out dir", L"--inf", L"my.inf",
         L"--name=a=b", L"--extract"});
    EXPECT_EQ(options.vendorId, 0xFFFF);
    EXPECT_EQ(options.productId, 8);
    EXPECT_EQ(options.interfaceId, std::optional<std::uint8_t>(255));
    EXPECT_EQ(options.driverType, DriverType::LibUsbK);
    EXPECT_EQ(options.destination, L"out dir");
    EXPECT_EQ(options.infName, L"my.inf");
    EXPECT_EQ(options.deviceName, L"a=b");
    EXPECT_TRUE(options.extractOnly);
}

TEST(ParseToolOptions, LeavesInterfaceUnsetAndKeepsDefaultsWhenNotGiven)
{
    const ToolOptions options = ParseToolOptions({L"--vid", L"0", L"--pid", L"0"});
    EXPECT_FALSE(options.interfaceId.has_value());
    EXPECT_EQ(options.driverType, DriverType::WinUsb);
    EXPECT_FALSE(options.wcid);
    EXPECT_FALSE(options.extractOnly);
}

TEST(ParseToolOptions, HelpNeedsNoIds)
{
    EXPECT_TRUE(ParseToolOptions({L"--help"}).help);
    EXPECT_EQ(ErrorOf({L"--help", L"--foo"}), L"unknown option '--foo'");
}

TEST(ParseToolOptionsErrors, NamesTheBadNumber)
{
    EXPECT_EQ(ErrorOf({L"--vid", L"0x1G", L"--pid", L"1"}), L"--vid: '0x1G' is not a number");
    EXPECT_EQ(ErrorOf(WithIds({L"--iid", L"08"})), L"--iid: '08' is not a number (a leading 0 means octal)");
    EXPECT_EQ(ErrorOf({L"--vid", L"1", L"--pid", L"0x"}), L"--pid: '0x' is not a number");
    EXPECT_EQ(ErrorOf(WithIds({L"--type", L"one"})), L"--type: 'one' is not a number");
}

TEST(ParseToolOptionsErrors, NamesTheValueThatDoesNotFit)
{
    EXPECT_EQ(ErrorOf({L"--vid", L"65536", L"--pid", L"1"}), L"--vid: 65536 does not fit in 16 bits");
    EXPECT_EQ(ErrorOf({L"--vid", L"1", L"--pid", L"0x10000"}), L"--pid: 0x10000 does not fit in 16 bits");
    EXPECT_EQ(ErrorOf({L"--vid", L"-1", L"--pid", L"1"}), L"--vid: -1 does not fit in 16 bits");
    EXPECT_EQ(ErrorOf(WithIds({L"--iid", L"300"})), L"--iid: 300 does not fit in 8 bits");
    EXPECT_EQ(ErrorOf(WithIds({L"--iid", L"0x100"})), L"--iid: 0x100 does not fit in 8 bits");
    EXPECT_EQ(ErrorOf(WithIds({L"--type", L"5"})),
              L"--type: 5 is not a driver type (0=WinUSB, 1=libusb-win32, 2=libusbK, 3=usbser, 4=custom)");
}

TEST(ParseToolOptionsErrors, ReportsMissingValues)
{
    EXPECT_EQ(ErrorOf(WithIds({L"--name"})), L"--name needs a value");
    EXPECT_EQ(ErrorOf(WithIds({L"--name", L"--wcid"})), L"--name needs a value");
    EXPECT_EQ(ErrorOf(WithIds({L"--manufacturer="})), L"--manufacturer needs a value");
    EXPECT_EQ(ErrorOf({L"--vid", L"--pid", L"1"}), L"--vid needs a value");
    EXPECT_EQ(ErrorOf(WithIds({L"--dest"})), L"--dest needs a value");
}

TEST(ParseToolOptionsErrors, ReportsUnknownOrStrayArguments)
{
    EXPECT_EQ(ErrorOf(WithIds({L"--foo"})), L"unknown option '--foo'");
    EXPECT_EQ(ErrorOf(WithIds({L"--foo=1"})), L"unknown option '--foo'");
    EXPECT_EQ(ErrorOf(WithIds({L"--VID", L"1"})), L"unknown option '--VID'");
    EXPECT_EQ(ErrorOf(WithIds({L"-h"})), L"unexpected argument '-h'");
    EXPECT_EQ(ErrorOf(WithIds({L"extra"})), L"unexpected argument 'extra'");
    EXPECT_EQ(ErrorOf(WithIds({L""})), L"unexpected argument ''");
    EXPECT_EQ(ErrorOf(WithIds({L"--wcid=1"})), L"--wcid takes no value");
}

TEST(ParseToolOptionsErrors, RequiresVendorAndProductIds)
{
    EXPECT_EQ(ErrorOf({}), L"--vid is required");
    EXPECT_EQ(ErrorOf({L"--pid", L"1"}), L"--vid is required");
    EXPECT_EQ(ErrorOf({L"--vid", L"1"}), L"--pid is required");
}

TEST(ParseToolOptionsErrors, RefusesWcidForDriversWithoutOne)
{
    EXPECT_EQ(ErrorOf(WithIds({L"--wcid", L"--type", L"3"})),
              L"--wcid works only with WinUSB, libusb-win32 or libusbK (--type 0, 1 or 2), not with usbser");
    EXPECT_EQ(ErrorOf(WithIds({L"--type", L"4", L"--wcid"})),
              L"--wcid works only with WinUSB, libusb-win32 or libusbK (--type 0, 1 or 2), not with custom");
    for (const wchar_t* type : {L"0", L"1", L"2"}) EXPECT_EQ(ErrorOf(WithIds({L"--wcid", L"--type", type})), L"<no error>");
}

TEST(ParseToolOptionsErrors, RefusesTextsThatWouldBreakTheFiles)
{
    EXPECT_EQ(ErrorOf(WithIds({L"--name", L"a\r\nb"})), L"--name: control characters are not allowed");
    EXPECT_EQ(ErrorOf(WithIds({L"--inf", L"..\\x.inf"})), L"--inf: '..\\x.inf' is not a plain file name");
    EXPECT_EQ(ErrorOf(WithIds({L"--inf", L"sub/x.inf"})), L"--inf: 'sub/x.inf' is not a plain file name");
    EXPECT_EQ(ErrorOf(WithIds({L"--inf", L".."})), L"--inf: '..' is not a plain file name");
}

TEST(UsageText, ListsEveryOptionWithItsText)
{
    const std::wstring usage = UsageText();
    for (const wchar_t* text :
         {L"--vid", L"set the vendor ID (VID, use 0x prefix for hex)", L"--pid",
          L"set the product ID (PID, use 0x prefix for hex)", L"--iid", L"set the interface ID (MI)",
          L"set the device name", L"set the manufacturer name", L"set the driver to install",
          L"(0=WinUSB, 1=libusb-win32, 2=libusbK, 3=usbser, 4=custom)",
          L"use a WCID driver instead of a device-specific", L"one (WinUSB, libusb-win32 or libusbK only)",
          L"--dest", L"--inf", L"--extract", L"--help", L"display usage"}) {
        EXPECT_NE(usage.find(text), std::wstring::npos) << testing::PrintToString(std::wstring(text));
    }
}

} // namespace
} // namespace juv::tool
