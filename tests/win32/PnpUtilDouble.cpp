// Stands in for Windows' pnputil in the end-to-end tests, placed where Windows keeps its own.
// It appends its arguments to the log named by the setting PnpUtilLog, what it sees of TEMP and
// JUV_PLANTED to the log's name and ".env", and behaves as the setting PnpUtilMode says:
//   ok (default)  does what it is asked and exits 0: /remove-device "ID" removes the device's key
//                 under Enum, /delete-driver X (or the old -d X) deletes X from the INF folder
//   restart       the same, and exits 3010
//   fail:N        does nothing and exits N
//   old           knows neither /remove-device nor /delete-driver, only the old -f -d
//   hang:MS       waits MS milliseconds before it does what it is asked; meanwhile the file named
//                 by the log's name and ".running" exists
// "/?" prints the usage of the pnputil the mode stands for.
#include "tests/win32/DoubleSettings.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

using namespace juv::test;

void Record(const std::wstring& log, const std::wstring& arguments) {
    HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring record = arguments + L'\0';
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
}

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH] = {};
    ::GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    const std::wstring log = DoubleSetting(L"PnpUtilLog");
    if (!log.empty()) {
        Record(log, arguments);
        RecordEnvironment(log);
    }
    const std::wstring mode = DoubleSetting(L"PnpUtilMode");
    const bool old = mode == L"old";

    if (argc == 2 && std::wstring(argv[1]) == L"/?") {
        if (old)
            std::printf("Microsoft PnP Utility\r\n\r\nUsage:\r\npnputil.exe [-f | -i] [ -? | -a | -d | -e ] <INF name>\r\n");
        else
            std::printf("Microsoft PnP Utility\r\n\r\nPNPUTIL [/add-driver <...> | /delete-driver <...> | "
                        "/enum-drivers | /remove-device <instance ID> | /enum-devices]\r\n");
        return 0;
    }
    if (mode.rfind(L"fail:", 0) == 0) return std::wcstol(mode.c_str() + 5, nullptr, 10);
    if (mode.rfind(L"hang:", 0) == 0) {
        const std::wstring running = log + L".running";
        ::CloseHandle(::CreateFileW(running.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ::Sleep(static_cast<DWORD>(std::wcstoul(mode.c_str() + 5, nullptr, 10)));
        ::DeleteFileW(running.c_str());
    }
    for (int i = 1; i + 1 < argc; ++i) {
        const std::wstring option = argv[i];
        if (!old && option == L"/remove-device") {
            const std::wstring key = L"System\\CurrentControlSet\\Enum\\" + std::wstring(argv[i + 1]);
            if (::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()) != ERROR_SUCCESS) return 1;
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        } else if ((!old && option == L"/delete-driver") || option == L"-d") {
            if (!::DeleteFileW((WindowsFolder() + L"\\INF\\" + argv[i + 1]).c_str())) return 2;
        }
    }
    return mode == L"restart" ? 3010 : 0;
}
