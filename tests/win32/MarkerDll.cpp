// Stands in for a DLL that someone planted beside the installer: loaded into any process, it
// leaves a file "<its own path>.loaded", so a test can tell that it ran.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8] = {};
        const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            ::lstrcatW(path, L".loaded");
            const HANDLE marker =
                ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
        }
    }
    return TRUE;
}
