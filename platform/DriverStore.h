#pragma once

#include "platform/ProcessService.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace juv {

// A models line of a published package as Windows reads it, every %string% of the INF
// substituted.
struct PackageModel {
    std::wstring manufacturer;             // the key of its [Manufacturer] line
    std::wstring name;                     // its own key: the name Windows gives the device
    std::vector<std::wstring> hardwareIds; // the hardware and compatible IDs it lists
    std::vector<std::wstring> services;    // the services its install adds
};

// A published package: one of the oem*.inf files of Windows' INF folder, by file name.
struct DriverPackage {
    std::wstring inf;
    std::vector<PackageModel> models;
};

// Windows' store of driver packages, and Windows' own tool for taking packages and device nodes
// out of it, pnputil. A 32-bit program cannot remove devices itself on 64-bit Windows, so the
// changes go through the pnputil of Windows' own kind.
class DriverStore {
public:
    virtual ~DriverStore() = default;

    // The published packages with a models line that lists one of hardwareIds, in any letter
    // case, each with those lines only: a store holds packages of thousands of models, and only
    // these lines' installs are read. No value when the INF folder cannot be read.
    virtual std::optional<std::vector<DriverPackage>>
    PackagesListing(const std::vector<std::wstring>& hardwareIds) = 0;
    // What pnputil says of itself when asked for its usage; no value when it cannot be started
    // or does not end in time.
    virtual std::optional<std::wstring> PnpUtilUsage() = 0;
    // Starts pnputil with the arguments, without a console window, in the environment asked
    // for; null when it cannot start.
    virtual std::unique_ptr<ProcessObject> StartPnpUtil(const std::wstring& arguments,
                                                        StartEnvironment environment) = 0;
};

} // namespace juv
