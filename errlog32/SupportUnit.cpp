#include "errlog32/SupportUnit.h"

#include <cmath>
#include <limits>

namespace juv {

namespace {

constexpr double MillisecondsPerDay = 24.0 * 3600.0 * 1000.0;

// Rounds to the nearest integer, halves to the even neighbour, clamped to the 64-bit range so
// that no conversion is undefined.
std::int64_t RoundHalfEven(double value) {
    const double r = std::nearbyint(value);
    if (std::isnan(r)) return 0;
    if (r >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (r <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

// The product of two 32-bit integers, wrapped as 32-bit arithmetic wraps, without overflow.
std::int32_t WrappingProduct(std::int32_t a, std::int32_t b) {
    const std::uint32_t product = static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b);
    return static_cast<std::int32_t>(product);
}

} // namespace

double ElapsedSeconds(double Later, double Earlier) {
    double d = Later - Earlier;
    if (d < 0) d = d + 1;
    return d * 24 * 3600;
}

double TimeOfDayStamp(std::chrono::milliseconds sinceMidnight) {
    return static_cast<double>(sinceMidnight.count()) / MillisecondsPerDay;
}

SupportUnit::SupportUnit(ClockService& clock, SyncService& sync, std::int32_t delayLoopCount)
    : clock_(clock), sync_(sync), delayLoopCount_(delayLoopCount) {}

void SupportUnit::Startup() {
    if (initCount_-- != 0) return;
    CalibrateDelayLoop();
    // Holding a handle is what matters, so that the name exists while any installer runs.
    // Whether another instance made it first says nothing: an idle window holds it too.
    mutexHandle_ = sync_.CreateNamedMutex(MutexName);
}

void SupportUnit::Shutdown() {
    if (++initCount_ != 0) return;
    mutexHandle_.reset();
}

void SupportUnit::DelayLoop() {
    ++delayLoopPasses_;
    for (std::int32_t i = 0; i < delayLoopCount_; ++i) spinSum_ = spinA_ + spinB_;
}

void SupportUnit::WaitMicroseconds(std::int32_t Microseconds) {
    const std::int64_t start = clock_.PerformanceCounter();
    if (start > 0) {
        const std::int64_t frequency = clock_.PerformanceFrequency();
        // Without a frequency the elapsed time cannot be known and the wait would never end;
        // the spin loop below stands in then, as it does without a counter.
        if (frequency > 0) {
            for (;;) {
                const std::int64_t now = clock_.PerformanceCounter();
                const double elapsed = static_cast<double>(now - start) /
                                       static_cast<double>(frequency) * 1000000.0;
                if (RoundHalfEven(elapsed) > static_cast<std::int64_t>(Microseconds)) return;
            }
        }
    }
    while (Microseconds > 0) {
        DelayLoop();
        Microseconds -= 2;
    }
}

void SupportUnit::CalibrateDelayLoop() {
    if (clock_.PerformanceCounter() > 0) return;
    const double start = TimeOfDayStamp(clock_.LocalTimeOfDay());
    std::int32_t passes = 0;
    double elapsed = 0;
    do {
        WaitMicroseconds(10000);
        ++passes;
        elapsed = ElapsedSeconds(TimeOfDayStamp(clock_.LocalTimeOfDay()), start);
    } while (!(elapsed > 0.25));
    const double count =
        static_cast<double>(WrappingProduct(delayLoopCount_, passes)) * 11.5 / (elapsed * 1000);
    // elapsed exceeds 0.25, so the quotient stays far inside the 32-bit range.
    delayLoopCount_ = static_cast<std::int32_t>(RoundHalfEven(count));
}

} // namespace juv
