#include "app/DriverRemoval.h"

#include "app/Decimal.h"
#include "app/ProgramRun.h"
#include "errlog32/CommandLine.h"

#include <algorithm>

namespace juv {

namespace {

// pnputil's code for "done once Windows has restarted".
constexpr std::uint32_t RestartRequired = 3010;
// A pnputil run that takes longer than this has hung.
constexpr std::chrono::minutes PnpUtilLimit{1};

// pnputil names its commands untranslated in every language, and only newer ones know these.
bool Mentions(std::wstring usage, std::wstring command) {
    UpCaseAscii(usage);
    UpCaseAscii(command);
    return usage.find(command) != std::wstring::npos;
}

} // namespace

DriverRemoval::DriverRemoval(DriverStore& store, DeviceService& devices, ProcessService& processes,
                             UserInterface& ui)
    : store_(store), devices_(devices), processes_(processes), ui_(ui) {}

std::optional<std::vector<std::wstring>> DriverRemoval::PackagesOnTheDriver() {
    const auto listing = store_.PackagesListing({DeviceHardwareId, CompatibleHardwareId});
    if (!listing) return std::nullopt;
    std::vector<std::wstring> packages;
    // A package with both models is one package, deleted once.
    for (const DriverPackage& package : *listing)
        if (std::any_of(package.models.begin(), package.models.end(), IsTheInstallersModel))
            packages.push_back(package.inf);
    return packages;
}

std::optional<std::vector<std::wstring>> DriverRemoval::NodesOnTheDriver() {
    const std::optional<std::vector<PresentDevice>> known = devices_.KnownDevices();
    if (!known) return std::nullopt;
    std::vector<std::wstring> nodes;
    for (const PresentDevice& device : *known)
        if (IsTheDevice(device) && RunsOnTheDriver(device)) nodes.push_back(device.instanceId);
    return nodes;
}

DeviceVerdict DriverRemoval::Run() {
    const std::optional<std::vector<std::wstring>> packages = PackagesOnTheDriver();
    if (!packages) return {false, L"Cannot read the driver store"};
    const std::optional<std::vector<std::wstring>> nodes = NodesOnTheDriver();
    if (!nodes) return {false, L"Cannot list the devices"};
    if (packages->empty() && nodes->empty()) return {true, L"Driver not installed; nothing to remove"};

    // What the installed pnputil can do decides how, not the Windows version, which programs
    // are often told wrongly.
    const std::optional<std::wstring> usage = store_.PnpUtilUsage();
    if (!usage) return {false, L"Cannot start pnputil"};
    const bool removesDevices = Mentions(*usage, L"/remove-device");
    const bool deletesDrivers = Mentions(*usage, L"/delete-driver");

    bool restart = false;
    // The nodes first: a package that a device still uses is deleted only by force.
    if (removesDevices)
        for (const std::wstring& node : *nodes)
            if (auto failure = RunPnpUtil(L"/remove-device \"" + node + L"\"", node, restart)) return {false, *failure};
    for (const std::wstring& inf : *packages) {
        const std::wstring arguments = deletesDrivers ? L"/delete-driver " + inf + L" /uninstall /force" : L"-f -d " + inf;
        if (auto failure = RunPnpUtil(arguments, inf, restart)) return {false, *failure};
    }

    // pnputil's word is not taken for it.
    const std::optional<std::vector<std::wstring>> packagesLeft = PackagesOnTheDriver();
    if (!packagesLeft) return {false, L"Cannot read the driver store"};
    if (!packagesLeft->empty()) return {false, L"Driver still in the driver store (" + packagesLeft->front() + L")"};
    const std::optional<std::vector<std::wstring>> nodesLeft = NodesOnTheDriver();
    if (!nodesLeft) return {false, L"Cannot list the devices"};
    // A node that goes only with the restart pnputil asked for does not count against it.
    if (!nodesLeft->empty() && !restart) return {false, L"Device JUV VCOM still uses driver libusb0"};
    if (restart) return {true, L"Driver removed; restart Windows to finish", true};
    return {true, L"Driver removed"};
}

std::optional<std::wstring> DriverRemoval::RunPnpUtil(const std::wstring& arguments, const std::wstring& subject,
                                                      bool& restart) {
    // Windows' own device installs go first: pnputil's work on the same devices and packages
    // would wait for them or get in their way.
    AwaitWindowsInstalls(devices_, processes_, ui_);
    ui_.SetStatusText(L"Execute: pnputil " + arguments);
    const std::unique_ptr<ProcessObject> process = store_.StartPnpUtil(arguments, StartEnvironment::Machine);
    if (!process) return L"Cannot start pnputil";
    const RunOutcome outcome = AwaitRun(*process, ui_, PnpUtilLimit);
    switch (outcome.kind) {
    case RunOutcome::Kind::TimedOut: return L"Wait Timeout!";
    case RunOutcome::Kind::Ended: break;
    default: return L"pnputil result unknown";
    }
    const std::uint32_t exitCode = outcome.exitCode;
    if (exitCode == RestartRequired) {
        restart = true;
        return std::nullopt;
    }
    if (exitCode != 0)
        return L"pnputil failed with exit code " + Decimal(static_cast<std::int32_t>(exitCode)) + L" (" +
               subject + L")";
    return std::nullopt;
}

} // namespace juv
