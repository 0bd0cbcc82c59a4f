#pragma once

#include "ShellService.h"

#include <string>

namespace juv {

// The main window as the logic sees it: its texts, its button, its start timer, and the boxes
// and messages the logic needs. The window behind it does the drawing.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    virtual void SetLabelText(const std::wstring& text) = 0;
    virtual std::wstring StatusText() = 0;
    virtual void SetStatusText(const std::wstring& text) = 0;
    virtual void EnableButton(bool enabled) = 0;
    virtual void StopTimer() = 0;

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
