#pragma once

#include <cstdint>
#include <string>

namespace juv {

// The program's one exception type. It carries the text the user is shown and, where a system
// call failed, that call's error code, captured right after the call before anything else could
// overwrite it.
class Error {
public:
    explicit Error(std::wstring message, std::uint32_t systemCode = 0)
        : message_(std::move(message)), systemCode_(systemCode) {}

    const std::wstring& Message() const { return message_; }
    std::uint32_t SystemCode() const { return systemCode_; }

private:
    std::wstring message_;
    std::uint32_t systemCode_;
};

} // namespace juv
