// Baseline for the unattended figure: waits one second, then starts the given tool twice
// through the shell, waiting for each run, as the installer's sequence does at the least.
// Usage: MinimalAuto.exe TOOL-PATH
#include <windows.h>

#include <shellapi.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    ::Sleep(1000);
    const std::wstring file = std::wstring(L"\"") + argv[1] + L"\"";
    for (int run = 0; run < 2; ++run) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = L"--vid 0x1781 --pid 0x7F4";
        info.nShow = SW_SHOWNORMAL;
        if (!::ShellExecuteExW(&info)) return 1;
        if (info.hProcess != nullptr) {
            ::WaitForSingleObject(info.hProcess, 60000);
            ::CloseHandle(info.hProcess);
        }
    }
    return 0;
}
