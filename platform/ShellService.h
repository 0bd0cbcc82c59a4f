#pragma once

#include "ProcessService.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace juv {

// Opaque reference to a top-level window, handed from the user interface to the shell so that a
// consent prompt belongs to the main window. The logic never looks inside.
using WindowId = std::uintptr_t;

// The shell's launch flags, with the platform's values.
namespace SeeMask {
inline constexpr std::uint32_t NoCloseProcess = 0x40;
inline constexpr std::uint32_t NoAsync = 0x100;
inline constexpr std::uint32_t FlagNoUi = 0x400;
} // namespace SeeMask

inline constexpr int ShowNormal = 1;

// What the shell is asked to start; the fields of the platform's launch record that are set.
struct ShellExecuteRequest {
    std::uint32_t mask = 0;
    WindowId window = 0;
    std::wstring verb;
    std::wstring file;
    std::optional<std::wstring> parameters; // empty means a null pointer, not an empty text
    int show = 0;
};

struct ShellExecuteResult {
    bool succeeded = false;
    std::uint32_t error = 0;
    std::unique_ptr<ProcessObject> process; // set only when asked for and given
};

class ShellService {
public:
    virtual ~ShellService() = default;

    // Asked afresh each time: the answer is never cached.
    virtual bool IsUserAnAdmin() = 0;
    virtual ShellExecuteResult Execute(const ShellExecuteRequest& request) = 0;
};

} // namespace juv
