#pragma once
// What the baseline programs have in common, so that they differ only where they are meant to.
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace juv {

// Starts the tool twice through the shell, as the installer's sequence does at the least,
// waiting for each run. False when the shell could not start it.
inline bool RunToolTwice(const std::wstring& tool) {
    const std::wstring file = L"\"" + tool + L"\"";
    for (int run = 0; run < 2; ++run) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = L"--vid 0x1781 --pid 0x7F4";
        info.nShow = SW_SHOWNORMAL;
        if (!::ShellExecuteExW(&info)) return false;
        const UniqueHandle process(info.hProcess);
        if (process) ::WaitForSingleObject(process.get(), 60000);
    }
    return true;
}

// An empty top-level window of the installer's outer size, on the button face, not yet shown.
inline HWND CreateEmptyWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    ::RegisterClassW(&windowClass);
    return ::CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 744, 403, nullptr,
                             nullptr, instance, nullptr);
}

} // namespace juv
