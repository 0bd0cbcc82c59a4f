#include "app/SilentMode.h"

namespace juv {

void SilentUserInterface::InstallFinished(bool done, const std::wstring& reason) {
    if (!done) {
        Fail(reason);
        return;
    }
    // The window closes on its own after "DONE!", as under /AUTO, and the run ends with it.
    if (!result_) result_ = SilentResult{SilentExit::Done, L"DONE!"};
}

void SilentUserInterface::ShowErrorBox(const std::wstring& text, const std::wstring&) { Fail(text); }

void SilentUserInterface::Fail(const std::wstring& reason) {
    if (result_) return;
    result_ = SilentResult{SilentExit::Failed, L"FAILED!: " + reason};
    // Nobody would ever close the window: the run ends here.
    window_.PostQuit();
}

SilentResult SilentUserInterface::Result() const {
    if (result_) return *result_;
    return SilentResult{SilentExit::Failed, L"FAILED!: Ended before the install was finished"};
}

std::optional<SilentResult> SilentStartRefusal(ShellService& shell, bool anotherInstanceRan) {
    // Nobody is there to press the button that would ask for the rights.
    if (!shell.IsUserAnAdmin())
        return SilentResult{SilentExit::ElevationRequired, L"FAILED!: Elevated priviliges required."};
    if (anotherInstanceRan)
        return SilentResult{SilentExit::AnotherInstall, L"FAILED!: Another installer instance is running"};
    return std::nullopt;
}

void ReportSilentResult(ReportService& reports, const SilentResult& result) {
    reports.ToConsole(result.line);
    reports.ToEventLog(result.exitCode != SilentExit::Done, result.line);
}

} // namespace juv
