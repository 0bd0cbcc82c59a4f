#pragma once

#include <chrono>
#include <cstdint>

namespace juv {

// The high-resolution counter and the local time of day.
class ClockService {
public:
    virtual ~ClockService() = default;

    // A failed query reads as 0, which callers treat as "no usable counter".
    virtual std::int64_t PerformanceCounter() = 0;
    virtual std::int64_t PerformanceFrequency() = 0;

    // Time since local midnight, to the millisecond.
    virtual std::chrono::milliseconds LocalTimeOfDay() = 0;
};

} // namespace juv
