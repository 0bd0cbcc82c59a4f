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

} // namespace juv
