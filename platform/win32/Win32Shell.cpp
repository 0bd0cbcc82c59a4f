#include "platform/win32/Win32Services.h"

namespace juv {

// The launch record as a 32-bit program hands it to the shell.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOW) == 60);
#endif

const Win32Shell::Entries& Win32Shell::Shell() {
    if (!entries_) {
        shell32_ = LoadSystemLibrary(L"shell32.dll");
        Entries found;
        found.isUserAnAdmin = LookUp<decltype(found.isUserAnAdmin)>(shell32_.get(), "IsUserAnAdmin");
        found.execute = LookUp<decltype(found.execute)>(shell32_.get(), "ShellExecuteExW");
        entries_ = found;
    }
    return *entries_;
}

bool Win32Shell::IsUserAnAdmin() { return Shell().isUserAnAdmin != nullptr && Shell().isUserAnAdmin() != FALSE; }

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
    if (Shell().execute == nullptr) {
        result.error = ERROR_PROC_NOT_FOUND;
        return result;
    }
    result.succeeded = Shell().execute(&info) != FALSE;
    if (!result.succeeded) {
        result.error = ::GetLastError();
        return result;
    }
    if (info.hProcess != nullptr) result.process = AdoptProcessHandle(info.hProcess);
    return result;
}

} // namespace juv
