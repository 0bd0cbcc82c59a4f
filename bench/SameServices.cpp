// Second baseline: the minimal window plus exactly the system services the installer needs at
// start-up (COM in a single-threaded apartment, version 6 of the common controls through the
// same manifest, the shell's administrator test) and, with "/auto TOOL", the same two shell
// runs of the tool one second after the start, after which it closes. Whatever this program
// costs is the floor for any program built on those services.
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
            const std::wstring file = L"\"" + tool + L"\"";
            for (int run = 0; run < 2; ++run) {
                SHELLEXECUTEINFOW info{};
                info.cbSize = sizeof(info);
                info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
                info.lpVerb = L"open";
                info.lpFile = file.c_str();
                info.lpParameters = L"--vid 0x1781 --pid 0x7F4";
                info.nShow = SW_SHOWNORMAL;
                if (::ShellExecuteExW(&info) && info.hProcess != nullptr) {
                    ::WaitForSingleObject(info.hProcess, 60000);
                    ::CloseHandle(info.hProcess);
                }
            }
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
    if (argc > 2 && ::lstrcmpiW(argv[1], L"/auto") == 0) tool = argv[2];
    ::OleInitialize(nullptr);
    ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::IsUserAnAdmin();

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"SameServices";
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, L"SameServices", L"Same services", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, 744, 403, nullptr, nullptr, instance, nullptr);
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
