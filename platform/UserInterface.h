#pragma once

#include "ShellService.h"

#include <string>

namespace juv {

// What the taskbar button shows besides the window's caption.
enum class TaskbarProgress { None, Indeterminate, Error };

// How an install ended: done, done but waiting for Windows to restart, or failed.
enum class InstallVerdict { Done, RestartNeeded, Failed };

// The main window as the logic sees it: its texts, its button, its start timer, and the boxes
// and messages the logic needs. The window behind it does the drawing.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    virtual void SetLabelText(const std::wstring& text) = 0;
    virtual std::wstring StatusText() = 0;
    virtual void SetStatusText(const std::wstring& text) = 0;
    virtual void EnableButton(bool enabled) = 0;
    virtual void SetButtonText(const std::wstring& text) = 0;
    virtual void StopTimer() = 0;

    // While the install runs the window takes no input, and closing it or ending the session
    // is held off, so that nobody ends the program in the middle of a driver install.
    virtual void SetInstalling(bool installing) = 0;
    // Best effort: where the taskbar cannot show progress, nothing changes.
    virtual void SetProgress(TaskbarProgress progress) = 0;
    // Another installer owns the install mutex as a sequence is about to start: true to start it
    // all the same.
    virtual bool GoOnBesideAnotherInstall() = 0;
    // The install has come to its verdict, "DONE!" or "FAILED!", with the status that says why.
    virtual void InstallFinished(InstallVerdict verdict, const std::wstring& reason) = 0;

    virtual void CloseMainWindow() = 0;
    virtual void PostQuit() = 0;
    virtual WindowId MainWindow() = 0;

    // Modal; both return when the user has confirmed.
    virtual void ShowErrorBox(const std::wstring& text, const std::wstring& caption) = 0;
    virtual void ShowMessageDialog(const std::wstring& text, const std::wstring& caption) = 0;

    // Lower-cases by the system's rules, for the application title.
    virtual std::wstring LowerCase(const std::wstring& text) = 0;
};

} // namespace juv
