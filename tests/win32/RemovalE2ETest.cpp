// Taking the driver off again under Wine, which has no pnputil and no driver store: the tests
// put packages into the INF folder, device nodes into the registry and a pnputil double where
// Windows keeps its own pnputil, the 64-bit one on 64-bit Windows.
#include "tests/win32/ProgramFixture.h"

#include <algorithm>
#include <cstdio>

namespace juv::test {
namespace {

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH] = {};
    ::GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

std::wstring WindowText(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

bool Wow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// A driver package as Windows publishes it, for one hardware ID and one service.
std::string PackageText(const std::string& hardwareId, const std::string& service) {
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USBDevice\r\n"
           "ClassGuid={88BAE032-5A81-49F0-BC3D-A4FF138216D6}\r\nProvider=%P%\r\n\r\n"
           "[Manufacturer]\r\n%P%=Devices, NTx86, NTamd64\r\n\r\n"
           "[Devices.NTx86]\r\n%D%=DriverInstall, " + hardwareId + "\r\n\r\n"
           "[Devices.NTamd64]\r\n%D%=DriverInstall, " + hardwareId + "\r\n\r\n"
           "[DriverInstall]\r\n\r\n[DriverInstall.Services]\r\nAddService = " + service +
           ", 0x00000002, DriverService\r\n\r\n[DriverService]\r\nServiceType=1\r\n\r\n"
           "[Strings]\r\nP=\"Maker\"\r\nD=\"Device\"\r\n";
}

// A libusb0 package as the tool's library writes it: the names and the ID after "USB\" come
// from [Strings].
std::string LibraryText(const std::string& vendor, const std::string& device, const std::string& id) {
    std::string text = "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = USBDevice\r\n"
                       "ClassGuid = {88BAE032-5A81-49F0-BC3D-A4FF138216D6}\r\nProvider = %VendorName%\r\n\r\n"
                       "[Manufacturer]\r\n%VendorName% = Devices, NT, NTAMD64, NTIA64\r\n\r\n";
    for (const char* models : {"Devices", "Devices.NT", "Devices.NTAMD64", "Devices.NTIA64"})
        text += std::string("[") + models + "]\r\n%DeviceName% = LIBUSB_WIN32_DEV, USB\\%DeviceID%\r\n\r\n";
    return text + "[LIBUSB_WIN32_DEV.NT]\r\n\r\n[LIBUSB_WIN32_DEV.NT.Services]\r\n"
                  "AddService = libusb0, 0x00000002, LIBUSB_WIN32_DEV.AddService\r\n\r\n"
                  "[LIBUSB_WIN32_DEV.AddService]\r\nServiceType = 1\r\n\r\n[Strings]\r\nVendorName = \"" +
           vendor + "\"\r\nDeviceName = \"" + device + "\"\r\nDeviceID = \"" + id + "\"\r\n";
}

const std::string Vendor = "Quellbrand Industrie-Elektronik oHG";

// A package in Windows' INF folder, for as long as the test holds it.
class PublishedPackage {
public:
    PublishedPackage(const std::wstring& name, const std::string& text) : path_(WindowsFolder() + L"\\INF\\" + name) {
        WriteBytes(path_, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    PublishedPackage(const std::wstring& name, const std::string& hardwareId, const std::string& service)
        : PublishedPackage(name, PackageText(hardwareId, service)) {}
    ~PublishedPackage() { ::DeleteFileW(path_.c_str()); }
    PublishedPackage(const PublishedPackage&) = delete;
    PublishedPackage& operator=(const PublishedPackage&) = delete;
    bool Exists() const { return ::GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

private:
    std::wstring path_;
};

class RemovalTest : public ProgramTest {
protected:
    // Where the installer must find pnputil: the system folder of Windows' own kind, which a
    // 32-bit program on 64-bit Windows reaches as Sysnative. Nothing is put where the 32-bit
    // view of System32 would find it.
    std::wstring pnputil = WindowsFolder() + (Wow64() ? L"\\Sysnative\\pnputil.exe" : L"\\System32\\pnputil.exe");
    std::wstring pnputilLog;

    RemovalTest() {
        if (!CopyTo(ProgramFolder() + L"pnputil_double.exe", pnputil)) throw std::runtime_error("cannot place pnputil");
        pnputilLog = scratch.Path() + L"pnputil-log.bin";
        SetDoubleSetting(L"PnpUtilLog", pnputilLog);
        PnpUtilMode(L"ok");
    }
    // The settings go with the installer's fixture.
    ~RemovalTest() override { ::DeleteFileW(pnputil.c_str()); }
    static void PnpUtilMode(const std::wstring& mode) { SetDoubleSetting(L"PnpUtilMode", mode); }

    // The arguments of each pnputil run, in order; cleared for the next part of a test.
    std::vector<std::wstring> PnpUtilRuns(bool clear = true) const {
        const std::vector<std::uint8_t> bytes = ReadBytes(pnputilLog);
        const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        std::vector<std::wstring> runs;
        for (std::size_t start = 0, end; (end = text.find(L'\0', start)) != std::wstring::npos; start = end + 1)
            runs.push_back(text.substr(start, end - start));
        if (clear) ::DeleteFileW(pnputilLog.c_str());
        return runs;
    }
    ChildResult Silently(const std::wstring& arguments) const {
        return RunChild(exe, L"\"" + exe + L"\" " + arguments, 120000);
    }
};

// pnputil, too, runs in the machine's environment.
TEST_F(RemovalTest, SilentRemovalTakesThisDevicesPackageAndNodesAndNothingElse) {
    const UserPlantedVariables planted(scratch.Path() + L"user-temp");
    const PublishedPackage ours(L"oem9101.inf", LibraryText(Vendor, "JUV VCOM", "vid_1781&pid_07f4&mi_00"));
    const PublishedPackage other(L"oem9102.inf", "USB\\VID_0000&PID_0001", "libusb0");
    // The generic package the install's first run leaves, and another maker's.
    const PublishedPackage generic(L"oem9103.inf", LibraryText(Vendor, "JUV VCOM", "MS_COMP_LIBUSB0"));
    const PublishedPackage othersGeneric(L"oem9104.inf",
                                         LibraryText("Another Maker Ltd", "Their Device", "MS_COMP_LIBUSB0"));
    // Windows names device nodes in capitals.
    const DeviceKey port1(L"libusb0", L"USB", L"JUV-E2E-1");
    const DeviceKey port2(L"libusb0", L"USB", L"JUV-E2E-2");

    if (Wow64()) {
        // The 32-bit view of System32 holds no pnputil here: a removal that works went through
        // Sysnative.
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        ASSERT_EQ(::GetFileAttributesW((std::wstring(system) + L"\\pnputil.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    const ChildResult removed = Silently(L"/UNINSTALL /SILENT");
    EXPECT_EQ(removed.exitCode, 0u);
    EXPECT_EQ(removed.bytes, "DONE!\r\n");
    planted.ExpectUnseenBy(pnputilLog, 5);
    std::vector<std::wstring> runs = PnpUtilRuns();
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0], L"/?");
    std::sort(runs.begin() + 1, runs.begin() + 3);
    EXPECT_EQ(runs[1], L"/remove-device " + port1.InstanceId());
    EXPECT_EQ(runs[2], L"/remove-device " + port2.InstanceId());
    std::sort(runs.begin() + 3, runs.end());
    EXPECT_EQ(runs[3], L"/delete-driver oem9101.inf /uninstall /force");
    EXPECT_EQ(runs[4], L"/delete-driver oem9103.inf /uninstall /force");
    EXPECT_FALSE(ours.Exists() || generic.Exists());
    EXPECT_TRUE(other.Exists() && othersGeneric.Exists());
    EXPECT_FALSE(port1.Exists() || port2.Exists());
    EXPECT_TRUE(Runs().empty()); // no tool ran
    EXPECT_EQ(::GetFileAttributesW(InstallFolder().c_str()), INVALID_FILE_ATTRIBUTES);

    // Again, with nothing left: done, and pnputil is not even asked.
    const ChildResult again = Silently(L"-uninstall /silent");
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_TRUE(PnpUtilRuns().empty());
    EXPECT_TRUE(other.Exists() && othersGeneric.Exists());
}

TEST_F(RemovalTest, SilentRemovalEndsWithPnpUtilsVerdict) {
    const PublishedPackage ours(L"oem9101.inf", "USB\\VID_1781&PID_07F4&MI_00", "libusb0");
    PnpUtilMode(L"fail:5");
    const ChildResult failed = Silently(L"/UNINSTALL /SILENT");
    EXPECT_EQ(failed.exitCode, 1603u);
    EXPECT_EQ(failed.bytes, "FAILED!: pnputil failed with exit code 5 (oem9101.inf)\r\n");
    EXPECT_TRUE(ours.Exists());

    PnpUtilMode(L"restart");
    const ChildResult restart = Silently(L"/UNINSTALL /SILENT");
    EXPECT_EQ(restart.exitCode, 3010u);
    EXPECT_EQ(restart.bytes, "DONE!: Driver removed; restart Windows to finish\r\n");
    EXPECT_FALSE(ours.Exists());
}

TEST_F(RemovalTest, WindowShowsTheRemovalAndStaysUnlessAuto) {
    const PublishedPackage ours(L"oem9101.inf", "USB\\VID_1781&PID_07F4&MI_00", "libusb0");
    const PublishedPackage generic(L"oem9103.inf", LibraryText(Vendor, "JUV VCOM", "MS_COMP_LIBUSB0"));
    PnpUtilMode(L"hang:3000");
    {
        const auto program = Start(L"/UNINSTALL");
        EXPECT_EQ(WindowText(program->Button()), L" Remove Driver for JUV or QX4530");
        ASSERT_TRUE(WaitForFile(pnputilLog + L".running")) << "pnputil did not start";
        EXPECT_EQ(program->LabelText(), L"Removing driver");
        ASSERT_TRUE(program->WaitForLabel(L"DONE!"));
        EXPECT_EQ(program->StatusText(), L"Driver removed");
        EXPECT_FALSE(ours.Exists() || generic.Exists());
        ::Sleep(1500);
        DWORD exitCode = 99;
        EXPECT_FALSE(program->WaitForExit(0, exitCode)) << "closed without /AUTO";
        CloseNormally(*program);
    }
    RunningProgram automatic(exe, L"/UNINSTALL /AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(automatic.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(Runs().empty());
}

} // namespace
} // namespace juv::test
