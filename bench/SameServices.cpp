// Second baseline: the minimal window plus exactly the system services the installer needs at
// start-up (COM in a single-threaded apartment, version 6 of the common controls through the
// same manifest, the shell's administrator test) and, with "/auto TOOL", the same two shell
// runs of the tool one second after the start, after which it closes. Whatever this program
// costs is the floor for any program built on those services.
#include "bench/Baseline.h"

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

namespace {

std::wstring tool;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER: {
        ::KillTimer(window, 1);
        if (!tool.empty() && ::IsUserAnAdmin()) {
            juv::RunToolTwice(tool);
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return 0;
    }
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const juv::UniqueLocal arguments(reinterpret_cast<HLOCAL>(argv));
    if (argc > 2 && ::lstrcmpiW(argv[1], L"/auto") == 0) tool = argv[2];
    ::OleInitialize(nullptr);
    ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::IsUserAnAdmin();

    HWND window = juv::CreateEmptyWindow(instance, L"SameServices", L"Same services", &WindowProc);
    HWND bar = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window,
                                 nullptr, instance, nullptr);
    ::SendMessageW(bar, SB_SIMPLE, TRUE, 0);
    ::SetTimer(window, 1, 1000, nullptr);
    ::ShowWindow(window, showCommand == SW_SHOWDEFAULT ? SW_SHOWNORMAL : showCommand);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    ::CoUninitialize();
    ::OleUninitialize();
    return 0;
}
