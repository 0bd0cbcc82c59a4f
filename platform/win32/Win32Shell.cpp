#include "platform/win32/Win32Services.h"

#include <shellapi.h>
#include <shlobj.h>

namespace juv {

// The launch record as a 32-bit program hands it to the shell.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOW) == 60);
#endif

bool Win32Shell::IsUserAnAdmin() { return ::IsUserAnAdmin() != FALSE; }

ShellExecuteResult Win32Shell::Execute(const ShellExecuteRequest& request) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = request.mask;
    info.hwnd = reinterpret_cast<HWND>(request.window);
    info.lpVerb = request.verb.c_str();
    info.lpFile = request.file.c_str();
    info.lpParameters = request.parameters ? request.parameters->c_str() : nullptr;
    info.nShow = request.show;

    ShellExecuteResult result;
    result.succeeded = ::ShellExecuteExW(&info) != FALSE;
    if (!result.succeeded) {
        result.error = ::GetLastError();
        return result;
    }
    if (info.hProcess != nullptr) result.process = AdoptProcessHandle(info.hProcess);
    return result;
}

} // namespace juv
