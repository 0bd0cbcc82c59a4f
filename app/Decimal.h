#pragma once

#include <cstdint>
#include <string>

namespace juv {

// A signed decimal number, as the texts show it.
std::wstring Decimal(std::int64_t value);

} // namespace juv
