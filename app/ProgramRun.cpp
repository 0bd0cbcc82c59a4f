#include "app/ProgramRun.h"

#include "platform/ScopeExit.h"

#include <chrono>

namespace juv {

using namespace std::chrono_literals;

namespace {

// Windows is asked this often whether it still installs a device, and waited for this long.
constexpr auto WindowsAskInterval = 500ms;
constexpr auto WindowsWaitLimit = 5min;

} // namespace

RunOutcome AwaitRun(ProcessObject& process, UserInterface& ui) {
    using Kind = RunOutcome::Kind;
    ui.SetProgress(TaskbarProgress::Indeterminate);
    const ScopeExit runOver([&ui] { ui.SetProgress(TaskbarProgress::None); });
    switch (process.Wait(60000ms)) {
    case WaitResult::Timeout: return {Kind::TimedOut};
    case WaitResult::Failed: return {Kind::Unknown};
    case WaitResult::Ended: break;
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
