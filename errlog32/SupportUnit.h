#pragma once

#include "platform/ClockService.h"
#include "platform/HeldObject.h"
#include "platform/SyncService.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace juv {

inline constexpr wchar_t MutexName[] = L"Kelvrin-Mutex";

// Seconds from Earlier to Later, two time-of-day stamps (fractions of a day); an interval that
// crosses midnight gets one day added.
double ElapsedSeconds(double Later, double Earlier);

// The time of day as a fraction of a day, as the timing code compares it.
double TimeOfDayStamp(std::chrono::milliseconds sinceMidnight);

// The support unit: a calibrated spin loop, a microsecond busy wait, and the named mutex that
// marks a running installer from start-up to shutdown.
class SupportUnit {
public:
    SupportUnit(ClockService& clock, SyncService& sync, std::int32_t delayLoopCount = 200);

    // Start-up and shutdown share a counter, so each does its work once however often called.
    void Startup();
    void Shutdown();

    void DelayLoop();
    void WaitMicroseconds(std::int32_t Microseconds);
    void CalibrateDelayLoop();

    std::int32_t DelayLoopCount() const { return delayLoopCount_; }
    bool HoldsMutex() const { return mutexHandle_ != nullptr; }
    // How many passes of the spin loop have run, for the callers that measure the loop.
    std::uint64_t DelayLoopPasses() const { return delayLoopPasses_; }

private:
    ClockService& clock_;
    SyncService& sync_;
    std::int32_t delayLoopCount_;
    // Volatile so that every iteration really reads two operands and stores their sum: a loop
    // the compiler can see through would take no time at all.
    volatile std::int32_t spinA_ = 0;
    volatile std::int32_t spinB_ = 0;
    volatile std::int32_t spinSum_ = 0;
    std::uint64_t delayLoopPasses_ = 0;
    std::unique_ptr<HeldObject> mutexHandle_;
    int initCount_ = 0;
};

} // namespace juv
