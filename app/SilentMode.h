#pragma once

#include "platform/ReportService.h"
#include "platform/ShellService.h"
#include "platform/UserInterface.h"

#include <optional>
#include <string>

namespace juv {

// The exit codes deployment engines understand: done, done once Windows has restarted, failed,
// come back later (another install runs), and administrator rights required.
namespace SilentExit {
inline constexpr int Done = 0;
inline constexpr int RestartNeeded = 3010;
inline constexpr int Failed = 1603;
inline constexpr int AnotherInstall = 1618;
inline constexpr int ElevationRequired = 740;
} // namespace SilentExit

struct SilentResult {
    int exitCode = SilentExit::Failed;
    std::wstring line; // "DONE!", the restart that is owed, or "FAILED!: " and the reason
};

// The main window of a run that nobody watches, for deployment engines: the window exists but
// is never shown, and nothing waits for a person. A dialog is passed over, as if confirmed; an
// error box or a failed install ends the run with that reason; "DONE!" ends it with success.
class SilentUserInterface final : public UserInterface {
public:
    explicit SilentUserInterface(UserInterface& window) : window_(window) {}

    void SetLabelText(const std::wstring& text) override { window_.SetLabelText(text); }
    std::wstring StatusText() override { return window_.StatusText(); }
    void SetStatusText(const std::wstring& text) override { window_.SetStatusText(text); }
    void EnableButton(bool enabled) override { window_.EnableButton(enabled); }
    void SetButtonText(const std::wstring& text) override { window_.SetButtonText(text); }
    void StopTimer() override { window_.StopTimer(); }
    void SetInstalling(bool installing) override { window_.SetInstalling(installing); }
    void SetProgress(TaskbarProgress) override {} // there is no taskbar button
    // The engine tries again later when told so: the run ends here with that code.
    bool GoOnBesideAnotherInstall() override;
    void InstallFinished(InstallVerdict verdict, const std::wstring& reason) override;
    void CloseMainWindow() override { window_.CloseMainWindow(); }
    void PostQuit() override { window_.PostQuit(); }
    WindowId MainWindow() override { return window_.MainWindow(); }
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;
    void ShowMessageDialog(const std::wstring&, const std::wstring&) override {}
    std::wstring LowerCase(const std::wstring& text) override { return window_.LowerCase(text); }

    // How the run ended; a run that ended before its install did counts as failed.
    SilentResult Result() const;

private:
    void End(int exitCode, const std::wstring& line);
    void Fail(const std::wstring& reason);

    UserInterface& window_;
    std::optional<SilentResult> result_;
};

// What a silent run checks before anything else. It ends at once, with the result given, when
// nobody could give it administrator rights.
std::optional<SilentResult> SilentStartRefusal(ShellService& shell);

// The result's line, on the starting program's console and in the event log.
void ReportSilentResult(ReportService& reports, const SilentResult& result);

} // namespace juv
