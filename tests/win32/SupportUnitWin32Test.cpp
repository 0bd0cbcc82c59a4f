#include "errlog32/SupportUnit.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32Services.h"

#include <gtest/gtest.h>

namespace juv::test {
namespace {

bool MutexExists() {
    UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"Kelvrin-Mutex"));
    return static_cast<bool>(mutex);
}

TEST(SupportUnitOnWindows, HoldsTheNamedMutexFromStartupToShutdown) {
    Win32Clock clock;
    Win32Sync sync;
    ASSERT_FALSE(MutexExists());
    SupportUnit first(clock, sync);
    first.Startup();
    EXPECT_TRUE(MutexExists());
    EXPECT_EQ(first.DelayLoopCount(), 200); // the counter works here: no calibration

    // A second instance opens the same mutex and starts all the same.
    SupportUnit second(clock, sync);
    second.Startup();
    EXPECT_TRUE(second.HoldsMutex());

    first.Shutdown();
    EXPECT_TRUE(MutexExists()); // the second still holds it
    second.Shutdown();
    EXPECT_FALSE(MutexExists());
}

TEST(SupportUnitOnWindows, StartsWithoutTheMutexWhenTheNameIsTaken) {
    UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, L"Kelvrin-Mutex"));
    ASSERT_TRUE(event);
    Win32Clock clock;
    Win32Sync sync;
    SupportUnit unit(clock, sync);
    unit.Startup();
    EXPECT_FALSE(unit.HoldsMutex());
    unit.Shutdown();
}

TEST(SupportUnitOnWindows, ClockReadsAPositiveCounterAndTheTimeOfDay) {
    Win32Clock clock;
    EXPECT_GT(clock.PerformanceCounter(), 0);
    EXPECT_GT(clock.PerformanceFrequency(), 0);
    const auto now = clock.LocalTimeOfDay();
    EXPECT_GE(now.count(), 0);
    EXPECT_LT(now.count(), 24 * 3600 * 1000);
}

TEST(SupportUnitOnWindows, WaitMicrosecondsWaitsAtLeastThatLong) {
    Win32Clock clock;
    Win32Sync sync;
    SupportUnit unit(clock, sync);
    const auto start = clock.PerformanceCounter();
    unit.WaitMicroseconds(20000);
    const double waited = static_cast<double>(clock.PerformanceCounter() - start) / clock.PerformanceFrequency();
    EXPECT_GE(waited, 0.020);
}

} // namespace
} // namespace juv::test
