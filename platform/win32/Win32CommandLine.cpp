#include "platform/win32/Win32Services.h"

namespace juv {

std::wstring Win32CommandLine::CommandLine() const { return ::GetCommandLineW(); }

std::wstring Win32CommandLine::ModuleFileName() const {
    // Room for 260 characters first, as most paths fit; a longer path gets a larger buffer
    // instead of being cut, since the install folder is derived from it.
    std::wstring path(261, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

} // namespace juv
