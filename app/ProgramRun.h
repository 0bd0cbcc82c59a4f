#pragma once

#include "platform/DeviceService.h"
#include "platform/ProcessService.h"
#include "platform/UserInterface.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace juv {

// What became of one run of a program that a sequence starts and waits for: the tool, pnputil.
struct RunOutcome {
    enum class Kind { NotStarted, TimedOut, Unknown, Ended } kind;
    std::uint32_t exitCode = 0;
};

// Waits up to limit for the started program, the taskbar showing progress meanwhile; the wait
// itself keeps the window alive. When stillWorking is given, the status shows what it makes of
// the minutes so far at each full minute the program is still at work. A program still running
// when the time is up is left running.
RunOutcome AwaitRun(ProcessObject& process, UserInterface& ui, std::chrono::minutes limit,
                    std::wstring (*stillWorking)(std::int64_t minutes) = nullptr);

// Waits, up to 5 minutes, until Windows installs no device any more: it refuses a driver install
// while one is under way. Then the run goes ahead whatever Windows says.
void AwaitWindowsInstalls(DeviceService& devices, ProcessService& processes, UserInterface& ui);

} // namespace juv
