#pragma once

#include <array>
#include <cstdint>

namespace juv {

// What names one file on one machine whatever path reaches it: the volume's serial number and
// the file's number on that volume. Two opens of the same file give the same id.
struct FileId {
    std::uint64_t volume = 0;
    std::array<std::uint8_t, 16> file{};
    bool operator==(const FileId&) const = default;
};

} // namespace juv
