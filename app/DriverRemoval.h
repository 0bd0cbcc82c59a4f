#pragma once

#include "app/DeviceVerdict.h"
#include "platform/DeviceService.h"
#include "platform/DriverStore.h"
#include "platform/ProcessService.h"
#include "platform/UserInterface.h"

#include <optional>
#include <string>
#include <vector>

namespace juv {

// Takes the driver off again: every device node of the device on the driver, present or not,
// then every package of this installer in the driver store, the device's and the generic one,
// each through Windows' own pnputil. Nothing of another device, another driver or another maker
// is touched. Afterwards Windows is asked again: it is done only when neither is left.
class DriverRemoval {
public:
    DriverRemoval(DriverStore& store, DeviceService& devices, ProcessService& processes, UserInterface& ui);

    DeviceVerdict Run();

private:
    // The published packages of this installer, by INF name; no value when the store cannot be read.
    std::optional<std::vector<std::wstring>> PackagesOnTheDriver();
    // The instance IDs of this device's nodes on the driver; no value when they cannot be listed.
    std::optional<std::vector<std::wstring>> NodesOnTheDriver();
    // One pnputil run about subject (a package or a node), waited for like a tool run. The
    // reason when it failed; a run that asks for a restart sets restart.
    std::optional<std::wstring> RunPnpUtil(const std::wstring& arguments, const std::wstring& subject, bool& restart);

    DriverStore& store_;
    DeviceService& devices_;
    ProcessService& processes_;
    UserInterface& ui_;
};

} // namespace juv
