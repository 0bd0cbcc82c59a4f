#include "platform/win32/Win32Services.h"

#include "platform/ScopeExit.h"

#include <string>

namespace juv {

namespace {

constexpr wchar_t EventSource[] = L"JUV LibUSB driver installer";

std::string Utf8(const std::wstring& text) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                              nullptr);
    return bytes;
}

} // namespace

void Win32Reports::ToConsole(const std::wstring& line) {
    // A deployment engine or script that redirects the output hands this program a file or a
    // pipe: the line goes there, in UTF-8. Otherwise the console of the program that started
    // this one, if it has one, gets it.
    const HANDLE given = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (given != nullptr && given != INVALID_HANDLE_VALUE) {
        const DWORD type = ::GetFileType(given);
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
            const std::string bytes = Utf8(line + L"\r\n");
            DWORD written = 0;
            ::WriteFile(given, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            return;
        }
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    const ScopeExit detach([] { ::FreeConsole(); });
    const UniqueHandle console(NullIfInvalid(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                            OPEN_EXISTING, 0, nullptr)));
    if (!console) return;
    // The console's prompt is already there; the line starts on a fresh one.
    const std::wstring text = L"\r\n" + line + L"\r\n";
    DWORD written = 0;
    ::WriteConsoleW(console.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Win32Reports::ToEventLog(bool error, const std::wstring& line) {
    const UniqueModule advapi = LoadSystemLibrary(L"advapi32.dll");
    using Register = HANDLE(WINAPI*)(const wchar_t*, const wchar_t*);
    using Report = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, const wchar_t**, void*);
    using Deregister = BOOL(WINAPI*)(HANDLE);
    const auto registerSource = LookUp<Register>(advapi.get(), "RegisterEventSourceW");
    const auto report = LookUp<Report>(advapi.get(), "ReportEventW");
    const auto deregister = LookUp<Deregister>(advapi.get(), "DeregisterEventSource");
    if (!registerSource || !report || !deregister) return;
    const HANDLE source = registerSource(nullptr, EventSource);
    if (source == nullptr) return;
    const ScopeExit release([&] { deregister(source); });
    const wchar_t* strings[] = {line.c_str()};
    // Event 1 is a finished install, event 2 one that failed or never started.
    report(source, error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, error ? 2 : 1, nullptr, 1, 0, strings,
           nullptr);
}

} // namespace juv
