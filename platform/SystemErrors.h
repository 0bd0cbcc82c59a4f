#pragma once

#include <cstdint>

namespace juv {

// The system error codes the logic tells apart. Same numbers as the platform's, kept here so the
// logic compiles without the platform's headers.
namespace ErrorCode {
inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t FileNotFound = 2;
inline constexpr std::uint32_t PathNotFound = 3;
inline constexpr std::uint32_t TooManyOpenFiles = 4;
inline constexpr std::uint32_t AccessDenied = 5;
inline constexpr std::uint32_t NotReady = 21;
inline constexpr std::uint32_t SharingViolation = 32;
inline constexpr std::uint32_t BadNetPath = 53;
inline constexpr std::uint32_t BadNetName = 67;
inline constexpr std::uint32_t HandleEof = 38;
inline constexpr std::uint32_t InvalidName = 123;
inline constexpr std::uint32_t BadPathName = 161;
inline constexpr std::uint32_t AlreadyExists = 183;
} // namespace ErrorCode

} // namespace juv
