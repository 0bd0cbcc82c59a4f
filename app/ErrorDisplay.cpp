#include "app/ErrorDisplay.h"

#include "platform/Error.h"

#include <new>

namespace juv {

std::wstring ApplicationTitle(const std::wstring& modulePath, UserInterface& ui) {
    const std::size_t folderEnd = modulePath.find_last_of(L"\\:");
    std::wstring name = folderEnd == std::wstring::npos ? modulePath : modulePath.substr(folderEnd + 1);
    name = name.substr(0, name.find(L'.'));
    if (name.size() > 1) name = name.substr(0, 1) + ui.LowerCase(name.substr(1));
    return name;
}

std::wstring ErrorBoxText(const std::wstring& message) {
    if (!message.empty() && message.back() > L'.') return message + L'.';
    return message;
}

std::wstring ExceptionMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Error& e) {
        return e.Message();
    } catch (const std::bad_alloc&) {
        return L"Out of memory";
    } catch (const std::exception& e) {
        // The runtime's own messages are ASCII; widened character by character.
        std::wstring message;
        for (const char* c = e.what(); *c != '\0'; ++c) message += static_cast<wchar_t>(static_cast<unsigned char>(*c));
        return message;
    } catch (...) {
        return L"Unknown error";
    }
}

void ShowException(UserInterface& ui, const CommandLineService& commandLine,
                   std::exception_ptr error) {
    ui.SetProgress(TaskbarProgress::Error);
    ui.ShowErrorBox(ErrorBoxText(ExceptionMessage(error)),
                    ApplicationTitle(commandLine.ModuleFileName(), ui));
}

void RunMainWindow(MainWindowSteps& window, UserInterface& ui, const CommandLineService& commandLine) {
    try {
        window.Create();
    } catch (...) {
        ShowException(ui, commandLine, std::current_exception());
        return;
    }
    window.RunCreateHandler();
    window.RunMessageLoop();
}

} // namespace juv
