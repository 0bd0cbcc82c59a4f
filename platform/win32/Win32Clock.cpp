#include "platform/win32/Win32Services.h"

namespace juv {

std::int64_t Win32Clock::PerformanceCounter() {
    LARGE_INTEGER value;
    return ::QueryPerformanceCounter(&value) ? value.QuadPart : 0;
}

std::int64_t Win32Clock::PerformanceFrequency() {
    LARGE_INTEGER value;
    return ::QueryPerformanceFrequency(&value) ? value.QuadPart : 0;
}

std::chrono::milliseconds Win32Clock::LocalTimeOfDay() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    using namespace std::chrono;
    return hours(now.wHour) + minutes(now.wMinute) + seconds(now.wSecond) + milliseconds(now.wMilliseconds);
}

} // namespace juv
