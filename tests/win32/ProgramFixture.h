#pragma once

#include "tests/win32/DoubleSettings.h"
#include "tests/win32/ProgramDriver.h"
#include "tests/win32/Win32Helpers.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace juv::test {

// A copy of the installer that carries the tool double, alone in a scratch folder, with the
// double's log and mode among the doubles' settings.
class ProgramTest : public ::testing::Test {
protected:
    ScratchFolder scratch{L"juv-e2e"};
    std::wstring folder;  // where the installer lies, with a trailing backslash
    std::wstring exe;
    std::wstring log;

    ProgramTest() { PlaceInstaller(scratch.Path()); }
    ~ProgramTest() override { DeleteDoubleSettings(); }

    void PlaceInstaller(const std::wstring& where) {
        folder = where;
        ::CreateDirectoryW(folder.c_str(), nullptr);
        exe = folder + L"ZoroDerERIDovudi.exe";
        log = scratch.Path() + L"tool-log.bin";
        if (!CopyTo(ProgramFolder() + L"installer_e2e.exe", exe)) throw std::runtime_error("cannot copy the installer");
        if (!SetDoubleSetting(L"ToolLog", log)) throw std::runtime_error("cannot set the tool's log");
        ToolMode(L"ok");
    }
    static void ToolMode(const std::wstring& mode) { SetDoubleSetting(L"ToolMode", mode); }

    std::wstring InstallFolder() const { return folder + L"DARORED\\"; }
    // Where a DARORED found there before was moved aside to.
    std::wstring AsideFolder(int number = 1) const { return folder + L"DARORED.old-" + std::to_wstring(number) + L"\\"; }
    std::wstring ToolPath() const { return InstallFolder() + L"wdi-simple.exe"; }
    static std::vector<std::uint8_t> DoubleBytes() { return ReadBytes(ProgramFolder() + L"tool_double.exe"); }

    // The tool runs the double recorded: command line and working folder, in order.
    struct Run {
        std::wstring commandLine;
        std::wstring folder;
    };
    std::vector<Run> Runs() const;

    std::unique_ptr<RunningProgram> Start(const std::wstring& arguments = L"") {
        auto program = std::make_unique<RunningProgram>(exe, arguments);
        EXPECT_NE(program->WaitForWindow(), nullptr) << "no main window";
        return program;
    }
};

inline std::vector<ProgramTest::Run> ProgramTest::Runs() const {
    const std::vector<std::uint8_t> bytes = ReadBytes(log);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\0', start)) != std::wstring::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    std::vector<Run> runs;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) runs.push_back({parts[i], parts[i + 1]});
    return runs;
}

// What a program of the user's can set for the installer: a variable among the user's own in the
// registry, from which Windows builds the environment of the user's programs, and that variable
// and a TEMP folder of the user's in the environment the installer is started with. All goes
// again when the object does.
class UserPlantedVariables {
public:
    explicit UserPlantedVariables(const std::wstring& userTemp)
        : userTemp_(userTemp), oldTemp_(EnvironmentValue(L"TEMP")) {
        ::CreateDirectoryW(userTemp_.c_str(), nullptr);
        const wchar_t planted[] = L"from-the-user";
        if (::RegSetKeyValueW(HKEY_CURRENT_USER, L"Environment", L"JUV_PLANTED", REG_SZ, planted, sizeof(planted)) !=
            ERROR_SUCCESS)
            throw std::runtime_error("cannot plant the user's variable");
        ::SetEnvironmentVariableW(L"JUV_PLANTED", planted);
        ::SetEnvironmentVariableW(L"TEMP", userTemp_.c_str());
    }
    ~UserPlantedVariables() {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Environment", L"JUV_PLANTED");
        ::SetEnvironmentVariableW(L"JUV_PLANTED", nullptr);
        ::SetEnvironmentVariableW(L"TEMP", oldTemp_.empty() ? nullptr : oldTemp_.c_str());
    }
    UserPlantedVariables(const UserPlantedVariables&) = delete;
    UserPlantedVariables& operator=(const UserPlantedVariables&) = delete;

    // Expects that each of a double's runs, as many as given, saw the machine's TEMP and nothing
    // of the variable.
    void ExpectUnseenBy(const std::wstring& doubleLog, std::size_t runs) const {
        const std::vector<std::uint8_t> bytes = ReadBytes(doubleLog + L".env");
        const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        std::wstring expected;
        for (std::size_t run = 0; run < runs; ++run) expected += L"TEMP=" + MachineTemp() + L"\nJUV_PLANTED=\n";
        EXPECT_EQ(::CompareStringOrdinal(text.c_str(), -1, expected.c_str(), -1, TRUE), CSTR_EQUAL)
            << std::string(text.begin(), text.end()) << "instead of\n" << std::string(expected.begin(), expected.end());
        EXPECT_EQ(text.find(userTemp_), std::wstring::npos);
    }

    // The machine's own TEMP, as Windows keeps it for every user.
    static std::wstring MachineTemp() {
        wchar_t value[MAX_PATH];
        DWORD size = sizeof(value);
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager\\Environment",
                           L"TEMP", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
            return L"(unknown)";
        return value;
    }

private:
    std::wstring userTemp_;
    std::wstring oldTemp_;
};

// Ends the program through its close box and expects exit code 0.
inline void CloseNormally(RunningProgram& program) {
    program.Close();
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// A device as Windows keeps it in the registry, which is where Wine's device list looks (it
// lists only keys with a device class), listed by the given bus driver under the given instance
// name; removed again when the test ends.
class DeviceKey {
public:
    explicit DeviceKey(const std::wstring& service, const std::wstring& bus = L"USB",
                       const std::wstring& instance = L"juv-e2e")
        : parent_(L"System\\CurrentControlSet\\Enum\\" + bus + L"\\VID_1781&PID_07F4&MI_00"),
          instanceId_(bus + L"\\VID_1781&PID_07F4&MI_00\\" + instance) {
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (parent_ + L"\\" + instance).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr) != ERROR_SUCCESS)
            throw std::runtime_error("cannot make the device key");
        const wchar_t ids[] = L"USB\\VID_1781&PID_07F4&REV_0100&MI_00\0USB\\VID_1781&PID_07F4&MI_00\0";
        ::RegSetValueExW(key_, L"HardwareID", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(ids), sizeof(ids));
        ::RegSetValueExW(key_, L"Service", 0, REG_SZ, reinterpret_cast<const BYTE*>(service.c_str()),
                         static_cast<DWORD>((service.size() + 1) * sizeof(wchar_t)));
        const wchar_t usbDevices[] = L"{88BAE032-5A81-49F0-BC3D-A4FF138216D6}";
        ::RegSetValueExW(key_, L"ClassGUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(usbDevices), sizeof(usbDevices));
    }
    ~DeviceKey() {
        ::RegCloseKey(key_);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, parent_.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, parent_.c_str());
    }
    DeviceKey(const DeviceKey&) = delete;
    DeviceKey& operator=(const DeviceKey&) = delete;

    const std::wstring& InstanceId() const { return instanceId_; }
    bool Exists() const {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"System\\CurrentControlSet\\Enum\\" + instanceId_).c_str(), 0,
                            KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }

private:
    std::wstring parent_;
    std::wstring instanceId_;
    HKEY key_ = nullptr;
};

} // namespace juv::test
