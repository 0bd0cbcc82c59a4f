#include "app/SilentMode.h"

namespace juv {

void SilentUserInterface::InstallFinished(InstallVerdict verdict, const std::wstring& reason) {
    if (verdict == InstallVerdict::Failed) {
        Fail(reason);
        return;
    }
    // The window closes on its own after "DONE!", as under /AUTO, and the run ends with it. A
    // restart that is owed is the engine's to schedule: it has its own code and its own line.
    if (result_) return;
    if (verdict == InstallVerdict::RestartNeeded)
        result_ = SilentResult{SilentExit::RestartNeeded, L"DONE!: " + reason};
    else
        result_ = SilentResult{SilentExit::Done, L"DONE!"};
}

void SilentUserInterface::ShowErrorBox(const std::wstring& text, const std::wstring&) { Fail(text); }

bool SilentUserInterface::GoOnBesideAnotherInstall() {
    End(SilentExit::AnotherInstall, L"FAILED!: Another installer instance is running");
    return false;
}

void SilentUserInterface::Fail(const std::wstring& reason) { End(SilentExit::Failed, L"FAILED!: " + reason); }

void SilentUserInterface::End(int exitCode, const std::wstring& line) {
    if (result_) return;
    result_ = SilentResult{exitCode, line};
    // Nobody would ever close the window: the run ends here.
    window_.PostQuit();
}

SilentResult SilentUserInterface::Result() const {
    if (result_) return *result_;
    return SilentResult{SilentExit::Failed, L"FAILED!: Ended before the install was finished"};
}

std::optional<SilentResult> SilentStartRefusal(ShellService& shell) {
    // Nobody is there to press the button that would ask for the rights.
    if (!shell.IsUserAnAdmin())
        return SilentResult{SilentExit::ElevationRequired, L"FAILED!: Elevated priviliges required."};
    return std::nullopt;
}

void ReportSilentResult(ReportService& reports, const SilentResult& result) {
    reports.ToConsole(result.line);
    const bool installed = result.exitCode == SilentExit::Done || result.exitCode == SilentExit::RestartNeeded;
    reports.ToEventLog(!installed, result.line);
}

} // namespace juv
