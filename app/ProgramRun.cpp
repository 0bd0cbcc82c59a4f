#include "app/ProgramRun.h"

#include "platform/ScopeExit.h"

#include <chrono>

namespace juv {

using namespace std::chrono_literals;

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

} // namespace juv
