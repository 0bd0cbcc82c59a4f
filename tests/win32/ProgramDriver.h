#pragma once

// Drives the installer from outside, as a person or an automation tool would: starts it, finds
// its window and controls, reads their texts, answers its boxes and closes it.
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace juv::test {

class RunningProgram {
public:
    RunningProgram(const std::wstring& exe, const std::wstring& arguments);
    ~RunningProgram(); // ends the program if it still runs
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    DWORD Id() const { return id_; }
    HANDLE Process() const { return process_.get(); }
    // A visible top-level window of the program of that class, now; null when there is none.
    // The installer's main window found so becomes Window().
    HWND FindVisibleWindow(const wchar_t* className = L"TJUVDriverForm");
    // The main window once it is visible; null when it did not come within the time.
    HWND WaitForWindow(DWORD timeoutMs = 30000);
    HWND Window() const { return window_; }
    HWND Label() const;
    HWND Button() const;
    HWND StatusBar() const;

    std::wstring LabelText() const;
    // Read through the control itself (WM_GETTEXT, which crosses process boundaries).
    std::wstring StatusText() const;
    bool WaitForLabel(const std::wstring& text, DWORD timeoutMs = 60000) const;

    // A message box of this program with that caption; null when none came.
    HWND WaitForBox(const std::wstring& caption, DWORD timeoutMs = 60000) const;
    static std::wstring BoxText(HWND box);
    static bool BoxHasIcon(HWND box);
    static void Confirm(HWND box);

    void Close() const;
    // True when the program ended within the time; its exit code goes to exitCode.
    bool WaitForExit(DWORD timeoutMs, DWORD& exitCode) const;

private:
    UniqueHandle process_;
    DWORD id_ = 0;
    HWND window_ = nullptr;
};

// Top-level windows of that class, of the process with that id (0: of every process but the
// one excluded).
std::vector<HWND> WindowsOf(DWORD processId, const wchar_t* className, DWORD excluded = 0);

} // namespace juv::test
