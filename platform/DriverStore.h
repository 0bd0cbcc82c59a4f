#pragma once

#include "platform/ProcessService.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace juv {

// Windows' store of driver packages, and Windows' own tool for taking packages and device nodes
// out of it, pnputil. A 32-bit program cannot remove devices itself on 64-bit Windows, so the
// changes go through the pnputil of Windows' own kind.
class DriverStore {
public:
    virtual ~DriverStore() = default;

    // The published packages (the oem*.inf files of Windows' INF folder, by file name) whose
    // models list hardwareId, in any letter case, with an install that adds the service. No
    // value when the INF folder cannot be read.
    virtual std::optional<std::vector<std::wstring>> PackagesFor(const std::wstring& hardwareId,
                                                                 const std::wstring& service) = 0;
    // What pnputil says of itself when asked for its usage; no value when it cannot be started
    // or does not end in time.
    virtual std::optional<std::wstring> PnpUtilUsage() = 0;
    // Starts pnputil with the arguments, without a console window; null when it cannot start.
    virtual std::unique_ptr<ProcessObject> StartPnpUtil(const std::wstring& arguments) = 0;
};

} // namespace juv
