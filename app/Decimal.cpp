#include "app/Decimal.h"

namespace juv {

// Written out by hand: the library's formatting drags the whole printf machinery into a
// program that needs nothing else of it.
std::wstring Decimal(std::int64_t value) {
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    return negative ? L"-" + digits : digits;
}

} // namespace juv
