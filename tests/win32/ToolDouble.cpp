// Stands in for the driver-installer tool in the end-to-end tests. It appends its command line
// and working folder to the log named by the setting ToolLog, what it sees of TEMP and
// JUV_PLANTED to the log's name and ".env", and behaves as the setting ToolMode says:
//   ok (default)  make "usb_driver" in the working folder, exit 0
//   fail:N        make "usb_driver", exit with code N
//   nofolder      make nothing, exit 0
//   hang:MS       make "usb_driver", then wait MS milliseconds before exiting 0; meanwhile the
//                 file named by the log's name and ".running" exists
//   slow:MS       the same, but make "usb_driver" only at the end
//   crash         make "usb_driver", then die of an unhandled access violation
//   spam:N        make "usb_driver", write N bytes to standard output, exit 0
//   plant:NAME    make "usb_driver" and a file NAME beside itself (a folder when NAME ends in
//                 ".local"), as a program of the user's could while the tool runs, exit 0
// A mode may carry further parts after '|' for the later runs, the last part for all that follow,
// e.g. "ok|fail:3" or "ok|fail:-9|ok". A run that starts while another is at work ("hang", "slow")
// makes the file named by the log's name and ".overlap".
#include "tests/win32/DoubleSettings.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

using namespace juv::test;

// Appends one record (command line, zero, folder, zero) and returns how many runs came before.
int Record(const std::wstring& log) {
    std::wstring folder(32768, L'\0');
    folder.resize(::GetCurrentDirectoryW(32768, folder.data()));
    HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file, &size);
    std::wstring existing(static_cast<std::size_t>(size.QuadPart / 2), L'\0');
    DWORD read = 0;
    if (!existing.empty()) ::ReadFile(file, existing.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr);
    int zeros = 0;
    for (wchar_t c : existing) zeros += c == L'\0';
    const std::wstring record = std::wstring(::GetCommandLineW()) + L'\0' + folder + L'\0';
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    return zeros / 2;
}

} // namespace

int wmain() {
    const std::wstring log = DoubleSetting(L"ToolLog").empty() ? L"tool-log.bin" : DoubleSetting(L"ToolLog");
    const int run = Record(log);
    RecordEnvironment(log);
    std::wstring mode = DoubleSetting(L"ToolMode");
    for (int part = 0; part < run && mode.find(L'|') != std::wstring::npos; ++part) mode.erase(0, mode.find(L'|') + 1);
    mode = mode.substr(0, mode.find(L'|'));
    const std::wstring running = log + L".running";
    if (::GetFileAttributesW(running.c_str()) != INVALID_FILE_ATTRIBUTES)
        ::CloseHandle(::CreateFileW((log + L".overlap").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    if (mode == L"nofolder") return 0;
    const bool slow = mode.rfind(L"slow:", 0) == 0;
    if (!slow) ::CreateDirectoryW(L"usb_driver", nullptr);
    if (mode.rfind(L"fail:", 0) == 0) return std::wcstol(mode.c_str() + 5, nullptr, 10);
    if (slow || mode.rfind(L"hang:", 0) == 0) {
        ::CloseHandle(::CreateFileW(running.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ::Sleep(static_cast<DWORD>(std::wcstoul(mode.c_str() + 5, nullptr, 10)));
        ::DeleteFileW(running.c_str());
        ::CreateDirectoryW(L"usb_driver", nullptr);
    }
    if (mode.rfind(L"plant:", 0) == 0) {
        const std::wstring name = mode.substr(6);
        if (name.size() > 6 && name.compare(name.size() - 6, 6, L".local") == 0)
            ::CreateDirectoryW(name.c_str(), nullptr);
        else
            ::CloseHandle(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    if (mode == L"crash") {
        // No crash dialog: the process is to end the way a crashed tool ends, with its code.
        ::SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
        ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
    if (mode.rfind(L"spam:", 0) == 0) {
        std::size_t left = std::wcstoul(mode.c_str() + 5, nullptr, 10);
        const std::string line(1000, 'x');
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        while (left > 0) {
            DWORD written = 0;
            const DWORD piece = static_cast<DWORD>(left < line.size() ? left : line.size());
            if (!::WriteFile(out, line.data(), piece, &written, nullptr)) break;
            left -= piece;
        }
    }
    return 0;
}
