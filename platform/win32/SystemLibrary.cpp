#include "platform/win32/SystemLibrary.h"

#include <sddl.h>

#include <string>

namespace juv {

void RestrictDllSearch() {
    // Looked up by name: systems without the update that brought it lack the function.
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    if (const auto restrict = LookUp<SetDefaultDirectories>(kernel, "SetDefaultDllDirectories")) {
        if (restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    }
    // The older remedy: at least the current directory leaves the search.
    ::SetDllDirectoryW(L"");
}

UniqueModule LoadSystemLibrary(const wchar_t* name) {
    if (HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return UniqueModule(module);
    // Systems that do not know the flag refuse it; there the full path does the same, and the
    // DLL's own imports are then looked for beside it, in the system folder, first.
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return UniqueModule();
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return UniqueModule(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

UniqueLocal SecurityDescriptorFromText(const wchar_t* text) {
    // advapi32 is no DLL that Windows always takes from its own folder.
    const UniqueModule advapi = LoadSystemLibrary(L"advapi32.dll");
    using Convert = BOOL(WINAPI*)(const wchar_t*, DWORD, PSECURITY_DESCRIPTOR*, ULONG*);
    const auto convert = LookUp<Convert>(advapi.get(), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (convert == nullptr || !convert(text, SDDL_REVISION_1, &descriptor, nullptr)) return UniqueLocal();
    return UniqueLocal(descriptor);
}

std::wstring SystemErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const UniqueLocal release(text);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    return message;
}

} // namespace juv
