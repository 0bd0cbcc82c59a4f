#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace juv {

// A device Windows has present, as its device manager sees it.
struct PresentDevice {
    std::vector<std::wstring> hardwareIds;
    std::wstring service;      // the driver service it runs on; empty when it has none
    std::uint32_t problem = 0; // Windows' problem code; 0 when the device has no problem
    bool needsRestart = false; // Windows restarts it on its driver only with Windows itself
};

// The devices Windows knows: the one witness of whether a driver install reached the device.
class DeviceService {
public:
    virtual ~DeviceService() = default;

    // The present devices of every bus, whichever driver listed them; empty (no value) when the
    // list cannot be read.
    virtual std::optional<std::vector<PresentDevice>> PresentDevices() = 0;
};

} // namespace juv
