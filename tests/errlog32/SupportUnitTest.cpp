#include "errlog32/SupportUnit.h"
#include "tests/fakes/FakeServices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace juv::test {
namespace {

using namespace std::chrono_literals;

TEST(ElapsedSeconds, CountsAcrossMidnight) {
    EXPECT_DOUBLE_EQ(ElapsedSeconds(0.75, 0.25), 43200);
    EXPECT_DOUBLE_EQ(ElapsedSeconds(0.25, 0.75), 43200);
    EXPECT_DOUBLE_EQ(ElapsedSeconds(0.5, 0.5), 0);
    EXPECT_DOUBLE_EQ(TimeOfDayStamp(12h), 0.5);
}

class SupportUnitTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakeSync sync;
};

TEST_F(SupportUnitTest, StartupAndShutdownEachWorkOnce) {
    clock.counter = 5000;
    SupportUnit unit(clock, sync);
    unit.Startup();
    unit.Startup();
    EXPECT_EQ(sync.names, std::vector<std::wstring>{L"Kelvrin-Mutex"});
    EXPECT_EQ(unit.DelayLoopCount(), 200); // a working counter means no calibration
    EXPECT_TRUE(unit.HoldsMutex());

    unit.Shutdown(); // pairs with the second start-up: nothing to do yet
    EXPECT_EQ(sync.handles.Open(), 1);
    unit.Shutdown();
    EXPECT_EQ(sync.handles.closed, 1);
    unit.Shutdown();
    EXPECT_EQ(sync.handles.closed, 1);
}

TEST_F(SupportUnitTest, RefusedMutexIsNoReasonToStop) {
    clock.counter = 5000;
    sync.refuse = true;
    SupportUnit unit(clock, sync);
    unit.Startup();
    EXPECT_FALSE(unit.HoldsMutex());
    unit.Shutdown();
    EXPECT_EQ(sync.handles.opened, 0);
}

TEST_F(SupportUnitTest, WaitWithCounterRoundsHalvesToEven) {
    clock.counter = 1000;
    clock.counterStep = 1;
    clock.frequency = 2000000; // half a microsecond a count
    SupportUnit unit(clock, sync);
    // 0.5 us rounds to 0, which is not yet more than 0; 1 us is.
    unit.WaitMicroseconds(0);
    EXPECT_EQ(clock.counterReads, 3);
    EXPECT_EQ(unit.DelayLoopPasses(), 0u);
}

TEST_F(SupportUnitTest, WaitWithCounterReturnsAfterOneReadingForNegativeRequests) {
    clock.counter = 1000;
    clock.counterStep = 0; // a frozen counter: only a negative request can end
    SupportUnit unit(clock, sync);
    unit.WaitMicroseconds(-1);
    EXPECT_EQ(clock.counterReads, 2);
}

TEST_F(SupportUnitTest, WaitWithCounterSpinsUntilTheTimeHasPassed) {
    clock.counter = 1;
    clock.counterStep = 250;
    clock.frequency = 1000000;
    SupportUnit unit(clock, sync);
    unit.WaitMicroseconds(1000); // ends at the first reading past 1000 us: 1250 us
    EXPECT_EQ(clock.counterReads, 6);
}

TEST_F(SupportUnitTest, WaitWithoutCounterRunsOnePassPerTwoMicroseconds) {
    const std::pair<std::int32_t, std::uint64_t> cases[] = {{1, 1}, {2, 1}, {3, 2}, {10000, 5000}, {0, 0}, {-7, 0}};
    for (const auto& [request, passes] : cases) {
        SupportUnit unit(clock, sync);
        unit.WaitMicroseconds(request);
        EXPECT_EQ(unit.DelayLoopPasses(), passes) << request;
    }
}

TEST_F(SupportUnitTest, WaitWithoutFrequencyFallsBackToTheSpinLoopInsteadOfHanging) {
    clock.counter = 1000;
    clock.frequency = 0;
    SupportUnit unit(clock, sync);
    unit.WaitMicroseconds(4);
    EXPECT_EQ(unit.DelayLoopPasses(), 2u);
}

TEST_F(SupportUnitTest, DelayLoopWithNoCountReturnsAtOnce) {
    for (const std::int32_t count : {0, -5, INT32_MIN}) {
        SupportUnit unit(clock, sync, count);
        const auto start = std::chrono::steady_clock::now();
        unit.DelayLoop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << count;
    }
}

// The first counter reading says "no counter" and starts the calibration; the later ones let the
// 10 ms waits pass at once, so only the time of day decides how many passes the loop makes.
class Calibration : public SupportUnitTest {
protected:
    Calibration() {
        clock.counter = 0;
        clock.counterStep = 20000;
        clock.timeOfDayStep = 10ms;
    }
};

TEST_F(Calibration, ScalesTheCountToTheMeasuredTime) {
    // From midnight the 25th pass ends at exactly 0.25 s, which repeats once more; the 26th
    // ends at 0.26 s: 200 x 26 x 11.5 / 260 = 230.
    SupportUnit unit(clock, sync);
    unit.Startup();
    EXPECT_EQ(unit.DelayLoopCount(), 230);
    EXPECT_TRUE(unit.HoldsMutex());
}

TEST_F(Calibration, RoundsHalvesToEven) {
    SupportUnit thirty(clock, sync, 30); // 30 x 26 x 11.5 / 260 = 34.5
    thirty.CalibrateDelayLoop();
    EXPECT_EQ(thirty.DelayLoopCount(), 34);

    clock.counter = 0;
    clock.timeOfDay = 0ms;
    SupportUnit ten(clock, sync, 10); // 10 x 26 x 11.5 / 260 = 11.5
    ten.CalibrateDelayLoop();
    EXPECT_EQ(ten.DelayLoopCount(), 12);
}

TEST_F(Calibration, ProductWrapsLikeA32BitInteger) {
    // 2^30 x 26 wraps to -2^31, which then gives -2147483648 x 11.5 / 260.
    SupportUnit unit(clock, sync, 1 << 30);
    unit.CalibrateDelayLoop();
    EXPECT_EQ(unit.DelayLoopCount(), -94984854);
}

TEST_F(Calibration, MeasuresAcrossMidnight) {
    clock.timeOfDay = 24h - 100ms;
    SupportUnit unit(clock, sync);
    unit.CalibrateDelayLoop();
    // 26 passes of 10 ms cross midnight after the 10th; the count is still 230 give or take
    // the rounding of the day fractions.
    EXPECT_NEAR(unit.DelayLoopCount(), 230, 1);
}

} // namespace
} // namespace juv::test
