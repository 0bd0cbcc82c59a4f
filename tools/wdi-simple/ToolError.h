#pragma once

#include <string>
#include <utility>

namespace juv::tool {

// What the stand-in throws when it cannot do what it was asked: bad command line, a destination
// it cannot write, options it cannot turn into an INF. The text goes to the user as it is.
class ToolError {
public:
    explicit ToolError(std::wstring message) : message_(std::move(message)) {}

    const std::wstring& Message() const { return message_; }

private:
    std::wstring message_;
};

} // namespace juv::tool
