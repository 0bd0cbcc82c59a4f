#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace juv {

// A device Windows knows, as its device manager sees it.
struct PresentDevice {
    std::vector<std::wstring> hardwareIds;
    std::wstring service;      // the driver service it runs on; empty when it has none
    std::uint32_t problem = 0; // Windows' problem code; 0 when the device has no problem
    bool needsRestart = false; // Windows restarts it on its driver only with Windows itself
    std::wstring instanceId;   // the device node's own name, e.g. USB\VID_1781&PID_07F4&MI_00\6&1a2b&0&0000
};

// The devices Windows knows: the one witness of whether a driver install reached the device.
class DeviceService {
public:
    virtual ~DeviceService() = default;

    // The present devices of every bus, whichever driver listed them; empty (no value) when the
    // list cannot be read.
    virtual std::optional<std::vector<PresentDevice>> PresentDevices() = 0;
    // Every device node Windows keeps, present or not: a device without a serial number gets one
    // for each port it was ever plugged into.
    virtual std::optional<std::vector<PresentDevice>> KnownDevices() = 0;
    // Windows is installing a device right now (one plugged in a moment ago, say); a driver
    // install started meanwhile is refused. Answers at once; false when Windows cannot tell.
    virtual bool InstallsPending() = 0;
};

} // namespace juv
