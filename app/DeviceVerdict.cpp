#include "app/DeviceVerdict.h"

#include "app/Decimal.h"
#include "errlog32/CommandLine.h"

#include <algorithm>
#include <chrono>

namespace juv {

namespace {

using namespace std::chrono_literals;

// Windows may take a moment to restart a device on its new driver: a device that is not yet
// on it is looked at again this often, this far apart, before the install counts as failed.
constexpr int DeviceLooksAgain = 10;
constexpr auto DeviceLookInterval = 500ms;
// Windows' problem code of a device that runs on its new driver only after Windows restarted.
constexpr std::uint32_t ProblemNeedRestart = 14;

// Windows compares IDs, service names and an INF's strings without regard to letter case. Ours
// are plain ASCII: upper-casing a to z is all it takes, and a text with other letters is never
// taken for one of ours.
bool EqualIgnoringCase(std::wstring a, std::wstring b) {
    UpCaseAscii(a);
    UpCaseAscii(b);
    return a == b;
}

bool Lists(const std::vector<std::wstring>& ids, const wchar_t* id) {
    return std::any_of(ids.begin(), ids.end(),
                       [id](const std::wstring& listed) { return EqualIgnoringCase(listed, id); });
}

} // namespace

bool IsTheDevice(const PresentDevice& device) { return Lists(device.hardwareIds, DeviceHardwareId); }

bool RunsOnTheDriver(const PresentDevice& device) { return EqualIgnoringCase(device.service, DriverService); }

bool IsTheInstallersModel(const PackageModel& model) {
    if (!Lists(model.services, DriverService)) return false;
    if (Lists(model.hardwareIds, DeviceHardwareId)) return true;
    // Another maker's generic package installs the same driver for the same ID: only the names
    // tell ours from theirs.
    return Lists(model.hardwareIds, CompatibleHardwareId) &&
           EqualIgnoringCase(model.manufacturer, ManufacturerName) && EqualIgnoringCase(model.name, DeviceName);
}

std::optional<DeviceVerdict> JudgeDevices(const std::optional<std::vector<PresentDevice>>& devices) {
    if (!devices) return std::nullopt;
    bool found = false;
    bool restart = false;
    for (const PresentDevice& device : *devices) {
        if (!IsTheDevice(device)) continue;
        found = true;
        // A device without a driver has a problem code too; the missing driver says more.
        if (device.service.empty()) return DeviceVerdict{false, L"Device JUV VCOM has no driver"};
        if (!RunsOnTheDriver(device))
            return DeviceVerdict{false, L"Device JUV VCOM still uses driver " + device.service};
        // The driver is in place; only a restart of Windows stands between it and the device,
        // for instance while another program keeps the device's port open.
        if (device.needsRestart || device.problem == ProblemNeedRestart) {
            restart = true;
            continue;
        }
        if (device.problem != 0)
            return DeviceVerdict{false, L"Device JUV VCOM problem code " + Decimal(device.problem)};
    }
    if (!found) return DeviceVerdict{true, L"Driver installed; device JUV VCOM not connected"};
    if (restart) return DeviceVerdict{true, L"Driver installed; restart Windows to finish", true};
    return DeviceVerdict{true, L"Device JUV VCOM is using driver libusb0"};
}

DeviceVerdict AskTheDevice(DeviceService& devices, ProcessService& processes) {
    std::optional<DeviceVerdict> failed;
    for (int look = 0;; ++look) {
        const std::optional<DeviceVerdict> verdict = JudgeDevices(devices.PresentDevices());
        // Nothing to go on at all: the driver is in place, whether the device took it is unknown.
        if (!verdict && !failed) return {true, L"Driver installed; device state unknown"};
        if (verdict) {
            if (verdict->done) return *verdict;
            failed = verdict;
        }
        if (look == DeviceLooksAgain) return *failed;
        processes.Sleep(DeviceLookInterval);
    }
}

} // namespace juv
