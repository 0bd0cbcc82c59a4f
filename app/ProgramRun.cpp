#include "app/ProgramRun.h"

#include "platform/ScopeExit.h"

namespace juv {

using namespace std::chrono_literals;

namespace {

// Windows is asked this often whether it still installs a device, and waited for this long.
constexpr auto WindowsAskInterval = 500ms;
constexpr auto WindowsWaitLimit = 5min;

} // namespace

RunOutcome AwaitRun(ProcessObject& process, UserInterface& ui, std::chrono::minutes limit,
                    std::wstring (*stillWorking)(std::int64_t minutes)) {
    using Kind = RunOutcome::Kind;
    ui.SetProgress(TaskbarProgress::Indeterminate);
    const ScopeExit runOver([&ui] { ui.SetProgress(TaskbarProgress::None); });
    // A minute at a time, each wait reading the window's messages throughout.
    for (std::chrono::minutes waited{1};; ++waited) {
        const WaitResult result = process.Wait(1min);
        if (result == WaitResult::Ended) break;
        if (result == WaitResult::Failed) return {Kind::Unknown};
        if (waited >= limit) return {Kind::TimedOut};
        if (stillWorking) ui.SetStatusText(stillWorking(waited.count()));
    }
    const std::optional<std::uint32_t> exitCode = process.ExitCode();
    if (!exitCode) return {Kind::Unknown};
    return {Kind::Ended, *exitCode};
}

void AwaitWindowsInstalls(DeviceService& devices, ProcessService& processes, UserInterface& ui) {
    for (auto waited = 0ms; devices.InstallsPending(); waited += WindowsAskInterval) {
        if (waited >= WindowsWaitLimit) return;
        if (waited == 0ms) ui.SetStatusText(L"Waiting for Windows to finish installing devices");
        // The pause keeps the window alive, and the question itself returns at once.
        processes.Sleep(WindowsAskInterval);
    }
}

} // namespace juv
