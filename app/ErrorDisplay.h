#pragma once

#include "platform/CommandLineService.h"
#include "platform/UserInterface.h"

#include <exception>
#include <string>

namespace juv {

// The executable's file name without its folder and without everything from its first '.' on,
// every character after the first lower-cased: the title of every box the program shows.
std::wstring ApplicationTitle(const std::wstring& modulePath, UserInterface& ui);

// The message as the error box shows it: a full stop is added unless the text is empty or its
// last character is '.' or sorts before it ('!', ')', a blank ...).
std::wstring ErrorBoxText(const std::wstring& message);

// The text of whatever was thrown.
std::wstring ExceptionMessage(std::exception_ptr error);

// The application's default error display: a modal box with the error icon.
void ShowException(UserInterface& ui, const CommandLineService& commandLine,
                   std::exception_ptr error);

// The main window's life as the entry leads it.
class MainWindowSteps {
public:
    virtual ~MainWindowSteps() = default;
    // Makes the window from its design and arms its start timer; raises when the system cannot
    // make either.
    virtual void Create() = 0;
    virtual void RunCreateHandler() = 0;
    // Dispatches messages until a quit message.
    virtual void RunMessageLoop() = 0;
};

// Brings the main window up and runs it to its end. A window or start timer the system cannot
// make goes to the default error display and ends the program at once: without the window
// nothing would ever end the message loop, and without the timer nothing would ever happen.
void RunMainWindow(MainWindowSteps& window, UserInterface& ui, const CommandLineService& commandLine);

} // namespace juv
