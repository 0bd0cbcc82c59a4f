#include "tools/wdi-simple/DriverFiles.h"
#include "tools/wdi-simple/InfWriter.h"
#include "tools/wdi-simple/Text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace juv::tool {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool Contains(const std::wstring& text, std::wstring_view part) { return text.find(part) != std::wstring::npos; }

// Each test gets its own empty folder, and the current folder is put back afterwards because
// RunTool writes relative to it.
class DriverFilesTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        root_ = fs::temp_directory_path() / ("juv_tool_tests_" + std::to_string(random()));
        fs::create_directories(root_);
        previous_ = fs::current_path();
    }

    void TearDown() override
    {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static ToolOptions Device()
    {
        ToolOptions options;
        options.vendorId = 0x1781;
        options.productId = 0x7F4;
        options.interfaceId = 0;
        options.deviceName = L"JUV VCOM";
        options.driverType = DriverType::LibUsb0;
        return options;
    }

    fs::path root_;
    fs::path previous_;
};

TEST_F(DriverFilesTest, CreatesTheFolderWithParentsAndWritesTheInf)
{
    const fs::path folder = root_ / "a" / "b c";
    const fs::path inf = WriteDriverFiles(Device(), folder);
    EXPECT_EQ(inf, folder / "usb_device.inf");
    ASSERT_TRUE(fs::is_regular_file(inf));
    EXPECT_EQ(ReadFile(inf), EncodeInf(InfText(Device())));
}

TEST_F(DriverFilesTest, UsesTheGivenInfNameAndReplacesAnOldFile)
{
    ToolOptions options = Device();
    options.infName = L"juv.inf";
    { std::ofstream(root_ / "juv.inf") << std::string(100000, 'x'); }
    const fs::path inf = WriteDriverFiles(options, root_);
    EXPECT_EQ(inf.filename(), "juv.inf");
    EXPECT_EQ(ReadFile(inf), EncodeInf(InfText(options)));
}

TEST_F(DriverFilesTest, ReportsADestinationThatIsAFile)
{
    const fs::path file = root_ / "taken";
    { std::ofstream(file) << "x"; }
    try {
        WriteDriverFiles(Device(), file);
        FAIL() << "no error";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.Message(), L"cannot use '" + file.wstring() + L"' as the destination: it is not a folder");
    }
    EXPECT_EQ(ReadFile(file), "x");
}

TEST_F(DriverFilesTest, ReportsAFolderBelowAFile)
{
    { std::ofstream(root_ / "taken") << "x"; }
    try {
        WriteDriverFiles(Device(), root_ / "taken" / "sub");
        FAIL() << "no error";
    } catch (const ToolError& error) {
        EXPECT_TRUE(Contains(error.Message(), L"cannot create folder '")) << ToUtf8(error.Message());
    }
}

TEST_F(DriverFilesTest, ReportsAnInfThatCannotBeWritten)
{
    fs::create_directories(root_ / "usb_device.inf");
    try {
        WriteDriverFiles(Device(), root_);
        FAIL() << "no error";
    } catch (const ToolError& error) {
        EXPECT_TRUE(Contains(error.Message(), L"cannot write '" + (root_ / "usb_device.inf").wstring() + L"'"))
            << ToUtf8(error.Message());
    }
}

TEST_F(DriverFilesTest, RunWritesIntoUsbDriverUnderTheCurrentFolder)
{
    fs::current_path(root_);
    const ToolRun run = RunTool({L"--vid", L"0x1781", L"--pid", L"0x7F4", L"--iid", L"00", L"--name", L"JUV VCOM",
                                 L"--manufacturer", L"Quellbrand Industrie-Elektronik oHG", L"--type", L"1"});
    EXPECT_EQ(run.exitCode, ExitSuccess);
    EXPECT_EQ(run.err, L"");
    EXPECT_TRUE(Contains(run.out, L"nothing was installed")) << ToUtf8(run.out);
    EXPECT_TRUE(Contains(run.out, L"usb_driver")) << ToUtf8(run.out);
    const std::string inf = ReadFile(root_ / "usb_driver" / "usb_device.inf");
    EXPECT_NE(inf.find("USB\\VID_1781&PID_07F4&MI_00"), std::string::npos);
    EXPECT_NE(inf.find("\"Quellbrand Industrie-Elektronik oHG\""), std::string::npos);
}

TEST_F(DriverFilesTest, RunHonoursDestAndInf)
{
    const fs::path folder = root_ / "out";
    const ToolRun run = RunTool({L"--vid=1", L"--pid=2", L"--wcid", L"--dest", folder.wstring(), L"--inf", L"x.inf"});
    EXPECT_EQ(run.exitCode, ExitSuccess) << ToUtf8(run.err);
    EXPECT_NE(ReadFile(folder / "x.inf").find("USB\\MS_COMP_WINUSB"), std::string::npos);
}

TEST_F(DriverFilesTest, RunReportsBadOptionsWithUsageAndWritesNothing)
{
    fs::current_path(root_);
    const ToolRun run = RunTool({L"--vid", L"0x1G", L"--pid", L"1"});
    EXPECT_EQ(run.exitCode, ExitBadOptions);
    EXPECT_LT(run.exitCode, 0);
    EXPECT_EQ(run.out, L"");
    EXPECT_TRUE(Contains(run.err, L"--vid: '0x1G' is not a number")) << ToUtf8(run.err);
    EXPECT_TRUE(Contains(run.err, UsageText()));
    EXPECT_FALSE(fs::exists(root_ / "usb_driver"));
}

TEST_F(DriverFilesTest, RunReportsAWriteFailure)
{
    { std::ofstream(root_ / "taken") << "x"; }
    const ToolRun run = RunTool({L"--vid=1", L"--pid=2", L"--dest", (root_ / "taken").wstring()});
    EXPECT_EQ(run.exitCode, ExitWriteFailed);
    EXPECT_LT(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.err, L"it is not a folder")) << ToUtf8(run.err);
}

TEST_F(DriverFilesTest, RunHelpPrintsUsageOnly)
{
    fs::current_path(root_);
    const ToolRun run = RunTool({L"--help"});
    EXPECT_EQ(run.exitCode, ExitSuccess);
    EXPECT_EQ(run.out, UsageText());
    EXPECT_EQ(run.err, L"");
    EXPECT_FALSE(fs::exists(root_ / "usb_driver"));
}

TEST(Text, EncodesUtf8AndUtf16)
{
    EXPECT_EQ(ToUtf8(L"a\u00FC\u65E5"), "a\xC3\xBC\xE6\x97\xA5");
    EXPECT_EQ(ToUtf16Le(L"a\u00FC"), std::string("a\0\xFC\0", 4));
    const std::wstring beyond = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                                     : std::wstring{wchar_t(0x1F600)};
    EXPECT_EQ(ToUtf8(beyond), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf16Le(beyond), std::string("\x3D\xD8\x00\xDE", 4));
}

TEST(Text, ReplacesBrokenSequences)
{
    EXPECT_EQ(ToCodePoints(std::wstring{L'a', wchar_t(0xD800), L'b'}), U"a\uFFFDb");
    EXPECT_EQ(ToCodePoints(std::wstring{wchar_t(0xDC00)}), U"\uFFFD");
}

} // namespace
} // namespace juv::tool
