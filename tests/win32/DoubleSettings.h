#pragma once

// How the end-to-end tests tell the tool and pnputil doubles what to do and where to log. The
// installer starts both in the machine's environment, which no variable of the test's reaches,
// so the settings lie in the machine's part of the registry.
#include <windows.h>

#include <string>

namespace juv::test {

inline constexpr wchar_t DoubleSettingsKey[] = L"Software\\JUV Test Doubles";

// A setting's value; empty when it is not set.
inline std::wstring DoubleSetting(const wchar_t* name) {
    wchar_t value[1024];
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, DoubleSettingsKey, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    return value;
}

inline bool SetDoubleSetting(const wchar_t* name, const std::wstring& value) {
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, DoubleSettingsKey, name, REG_SZ, value.c_str(),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Takes every setting away: the next test starts from none.
inline void DeleteDoubleSettings() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, DoubleSettingsKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, DoubleSettingsKey);
}

// The value of a variable in this process's environment; empty when it is not set.
inline std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// Appends what a double sees of the variables a test plants, one line each, to log + ".env".
inline void RecordEnvironment(const std::wstring& log) {
    const HANDLE file = ::CreateFileW((log + L".env").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring lines =
        L"TEMP=" + EnvironmentValue(L"TEMP") + L"\nJUV_PLANTED=" + EnvironmentValue(L"JUV_PLANTED") + L"\n";
    DWORD written = 0;
    ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
}

} // namespace juv::test
