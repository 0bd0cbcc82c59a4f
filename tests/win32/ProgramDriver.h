#pragma once

// Drives the installer from outside, as a person or an automation tool would: starts it, finds
// its window and controls, reads their texts, answers its boxes and closes it.
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <utility>
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
    // The same, asking every 25 ms meanwhile whether Windows counts the window as hung, which
    // sends it nothing; how often it did goes to hungPolls.
    bool WaitForLabelWatchingHung(const std::wstring& text, int& hungPolls, DWORD timeoutMs = 60000) const;

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

// Times how fast a window answers messages sent by another program, through an install whose
// tool double marks each run with a file (the tool log's name and ".running"). An answer counts
// as inside a tool run's wait when the tool ran before and after the message, and the shell has
// had time to hand its launch back: starting a program is one call, not a wait.
class AnswerWatch {
public:
    explicit AnswerWatch(std::wstring runningMarker) : marker_(std::move(runningMarker)) {}

    // Sends one message and times the answer; true when it fell inside a tool run's wait.
    bool Sample(HWND window);

    double worstInRunsMs = 0;
    double worstOverallMs = 0;
    int samplesInRuns = 0;
    int unanswered = 0;

private:
    bool ToolRuns() const;

    std::wstring marker_;
    double runSeen_ = 0; // when the current run was first seen; 0 while none runs
};

// Top-level windows of that class, of the process with that id (0: of every process but the
// one excluded).
std::vector<HWND> WindowsOf(DWORD processId, const wchar_t* className, DWORD excluded = 0);

} // namespace juv::test
