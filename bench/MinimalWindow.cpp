// Baseline for the start-up figure: a Win32 program that opens one empty window and waits.
#include "bench/Baseline.h"

#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    HWND window = juv::CreateEmptyWindow(instance, L"MinimalWindow", L"Minimal", &WindowProc);
    ::ShowWindow(window, showCommand == SW_SHOWDEFAULT ? SW_SHOWNORMAL : showCommand);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    return 0;
}
