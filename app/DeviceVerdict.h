#pragma once

#include "platform/DeviceService.h"
#include "platform/DriverStore.h"
#include "platform/ProcessService.h"

#include <optional>
#include <string>
#include <vector>

namespace juv {

// What Windows makes of the device's present state; the status text says it in words.
struct DeviceVerdict {
    bool done = false;
    std::wstring status;
    // On its new driver as soon as Windows has restarted: done, and a restart is still owed.
    bool restartNeeded = false;
};

// The device the driver is for, as Windows names it among a device's hardware IDs, and the
// service of the driver.
inline constexpr wchar_t DeviceHardwareId[] = L"USB\\VID_1781&PID_07F4&MI_00";
inline constexpr wchar_t DriverService[] = L"libusb0";
// The install's first tool run also puts a generic package into the store: the driver for any
// device that declares itself compatible with it, under the names the command lines give.
inline constexpr wchar_t CompatibleHardwareId[] = L"USB\\MS_COMP_LIBUSB0";
inline constexpr wchar_t ManufacturerName[] = L"Quellbrand Industrie-Elektronik oHG";
inline constexpr wchar_t DeviceName[] = L"JUV VCOM";

// A device that lists the hardware ID, and one that runs on the driver, in any letter case.
bool IsTheDevice(const PresentDevice& device);
bool RunsOnTheDriver(const PresentDevice& device);

// A models line that this installer's install puts into the driver store: this device's on the
// driver, under whatever names, or the generic one on the driver under the installer's names.
bool IsTheInstallersModel(const PackageModel& model);

// No value while the device list cannot be read.
std::optional<DeviceVerdict> JudgeDevices(const std::optional<std::vector<PresentDevice>>& devices);

// Looks at the device after an install until it runs on the driver, for a few seconds at most.
DeviceVerdict AskTheDevice(DeviceService& devices, ProcessService& processes);

} // namespace juv
