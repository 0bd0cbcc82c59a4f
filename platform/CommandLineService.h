#pragma once

#include <string>

namespace juv {

// The process's own command line and executable path.
class CommandLineService {
public:
    virtual ~CommandLineService() = default;

    // The command line as the system reports it, unchanged.
    virtual std::wstring CommandLine() const = 0;

    // The full path of the program's executable file. Never cut short: a truncated path would
    // point the install folder somewhere else.
    virtual std::wstring ModuleFileName() const = 0;
};

} // namespace juv
