#pragma once

#include "app/ErrorDisplay.h"
#include "app/InstDriverForm.h"
#include "platform/UserInterface.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <shobjidl.h>

#include <string>

namespace juv {

// The main window on the screen: its design, its controls, and the translation of window
// messages into calls on the form's logic. Every call into the logic runs under the default
// error display, so no exception leaves the window procedure.
class JUVDriverFormWindow final : public UserInterface, public MainWindowSteps {
public:
    // Shown in the start-up show state, unless it is to stay hidden.
    JUVDriverFormWindow(HINSTANCE instance, const CommandLineService& commandLine, int showCommand, bool visible);
    ~JUVDriverFormWindow() override;
    JUVDriverFormWindow(const JUVDriverFormWindow&) = delete;
    JUVDriverFormWindow& operator=(const JUVDriverFormWindow&) = delete;

    // The logic the messages go to. An error that escapes a handler is shown through ui: this
    // window, or one that stands for it.
    void Attach(TJUVDriverForm& form, UserInterface& ui);
    // Creates the hidden window and its controls from the design and arms the start timer.
    void Create() override;
    // Runs the creation handler; an error in it is shown, and the window still comes up.
    void RunCreateHandler() override;
    void RunMessageLoop() override;

    void SetLabelText(const std::wstring& text) override;
    std::wstring StatusText() override;
    void SetStatusText(const std::wstring& text) override;
    void EnableButton(bool enabled) override;
    void SetButtonText(const std::wstring& text) override;
    void StopTimer() override;
    void SetInstalling(bool installing) override;
    void SetProgress(TaskbarProgress progress) override;
    // Someone started this instance and watches it: it is never turned away.
    bool GoOnBesideAnotherInstall() override { return true; }
    void InstallFinished(InstallVerdict verdict, const std::wstring& reason) override;
    void CloseMainWindow() override;
    void PostQuit() override;
    WindowId MainWindow() override;
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;
    void ShowMessageDialog(const std::wstring& text, const std::wstring& caption) override;
    std::wstring LowerCase(const std::wstring& text) override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    template <typename Handler>
    void Guarded(Handler handler);
    void ShowProgress();

    HINSTANCE instance_;
    const CommandLineService& commandLine_;
    int showCommand_;
    bool visible_;
    TJUVDriverForm* form_ = nullptr;
    UserInterface* ui_ = this;
    HWND window_ = nullptr;
    HWND Label1 = nullptr;
    HWND Button1 = nullptr;
    HWND StatusBar1 = nullptr;
    UINT_PTR Timer1 = 0;
    UniqueFont windowFont_;
    UniqueFont labelFont_;
    UniqueFont buttonFont_;
    // The status bar's simple text, kept here because not every system answers a read-back of
    // a simple-mode bar.
    std::wstring statusText_;
    bool installing_ = false;
    TaskbarProgress progress_ = TaskbarProgress::None;
    // Asked for when there is first something to show; null where the system has none.
    UniqueComPtr<ITaskbarList3> taskbar_;
    bool taskbarAsked_ = false;
    // Sent when the taskbar button is made anew, for instance after the shell restarted.
    UINT taskbarButtonCreated_ = 0;
};

} // namespace juv
