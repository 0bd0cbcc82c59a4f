#include "platform/win32/Win32Services.h"

#include "platform/ScopeExit.h"
#include "platform/win32/LiveWait.h"

#include <setupapi.h>
#include <cfgmgr32.h>

#include <cwchar>
#include <memory>

namespace juv {

namespace {

using namespace std::chrono_literals;

// A device list Windows has not given within this long counts as one it cannot give.
constexpr auto DeviceReadLimit = 60000ms;

// A device property as the registry keeps it; empty when the device has none.
std::vector<wchar_t> Property(const Win32Devices::Entries& api, HDEVINFO list, SP_DEVINFO_DATA& device,
                              DWORD property) {
    std::vector<wchar_t> value(256);
    for (;;) {
        DWORD needed = 0;
        if (api.getProperty(list, &device, property, nullptr, reinterpret_cast<BYTE*>(value.data()),
                            static_cast<DWORD>(value.size() * sizeof(wchar_t)), &needed)) {
            // Two terminating zeros whatever the system wrote, for the lists of texts.
            value.resize(needed / sizeof(wchar_t));
            value.push_back(L'\0');
            value.push_back(L'\0');
            return value;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= value.size() * sizeof(wchar_t)) return {};
        value.resize(needed / sizeof(wchar_t) + 1);
    }
}

std::optional<std::vector<PresentDevice>> ReadDevices(const Win32Devices::Entries& api, DWORD flags) {
    const HDEVINFO list = api.getClassDevs(nullptr, nullptr, nullptr, flags);
    if (list == INVALID_HANDLE_VALUE) return std::nullopt;
    const ScopeExit destroy([&] { api.destroyList(list); });

    std::vector<PresentDevice> devices;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!api.enumInfo(list, index, &device)) {
            if (::GetLastError() == ERROR_NO_MORE_ITEMS) break;
            return std::nullopt;
        }
        PresentDevice present;
        wchar_t instance[MAX_DEVICE_ID_LEN + 1] = {};
        if (api.instanceId(list, &device, instance, MAX_DEVICE_ID_LEN + 1, nullptr)) present.instanceId = instance;
        const std::vector<wchar_t> ids = Property(api, list, device, SPDRP_HARDWAREID);
        for (const wchar_t* id = ids.data(); !ids.empty() && *id != L'\0'; id += std::wcslen(id) + 1)
            present.hardwareIds.emplace_back(id);
        const std::vector<wchar_t> service = Property(api, list, device, SPDRP_SERVICE);
        if (!service.empty()) present.service = service.data();
        ULONG status = 0, problem = 0;
        if (api.nodeStatus(&status, &problem, device.DevInst, 0) == CR_SUCCESS) {
            if ((status & DN_HAS_PROBLEM) != 0) present.problem = problem;
            present.needsRestart = (status & DN_NEED_RESTART) != 0;
        }
        devices.push_back(std::move(present));
    }
    return devices;
}

} // namespace

const Win32Devices::Entries& Win32Devices::SetupApi() {
    if (!entries_) {
        setupapi_ = LoadSystemLibrary(L"setupapi.dll");
        const HMODULE module = setupapi_.get();
        Entries found;
        found.getClassDevs = LookUp<decltype(found.getClassDevs)>(module, "SetupDiGetClassDevsW");
        found.enumInfo = LookUp<decltype(found.enumInfo)>(module, "SetupDiEnumDeviceInfo");
        found.getProperty = LookUp<decltype(found.getProperty)>(module, "SetupDiGetDeviceRegistryPropertyW");
        found.destroyList = LookUp<decltype(found.destroyList)>(module, "SetupDiDestroyDeviceInfoList");
        found.nodeStatus = LookUp<decltype(found.nodeStatus)>(module, "CM_Get_DevNode_Status");
        found.instanceId = LookUp<decltype(found.instanceId)>(module, "SetupDiGetDeviceInstanceIdW");
        // setupapi has always offered it; cfgmgr32 is its home on newer systems.
        found.waitNoPendingInstalls =
            LookUp<decltype(found.waitNoPendingInstalls)>(module, "CMP_WaitNoPendingInstallEvents");
        if (!found.waitNoPendingInstalls) {
            cfgmgr32_ = LoadSystemLibrary(L"cfgmgr32.dll");
            found.waitNoPendingInstalls =
                LookUp<decltype(found.waitNoPendingInstalls)>(cfgmgr32_.get(), "CMP_WaitNoPendingInstallEvents");
        }
        entries_ = found;
    }
    return *entries_;
}

std::optional<std::vector<PresentDevice>> Win32Devices::PresentDevices() {
    // Every bus: USB 3 controllers of other makers list their devices under their own
    // enumerator, and the hardware IDs say which device is which wherever it hangs.
    return ListDevices(DIGCF_PRESENT | DIGCF_ALLCLASSES);
}

std::optional<std::vector<PresentDevice>> Win32Devices::KnownDevices() { return ListDevices(DIGCF_ALLCLASSES); }

bool Win32Devices::InstallsPending() {
    // With no time-out the question only looks at Windows' flag and returns at once, so it is
    // asked on the window's thread. A system that cannot answer holds up nothing: the run goes
    // ahead as it always did.
    const auto waitNoPending = SetupApi().waitNoPendingInstalls;
    return waitNoPending != nullptr && waitNoPending(0) == WAIT_TIMEOUT;
}

std::optional<std::vector<PresentDevice>> Win32Devices::ListDevices(unsigned long flags) {
    const Entries& api = SetupApi();
    if (!api.getClassDevs || !api.enumInfo || !api.getProperty || !api.destroyList || !api.nodeStatus ||
        !api.instanceId)
        return std::nullopt;
    // Reading every bus's devices takes a few hundred milliseconds, far longer while Windows
    // installs a driver: done on a thread of its own while the window answers. The read owns
    // its reference to setupapi and its result, so one that outlasts the limit finishes alone.
    struct Read final : ThreadWork {
        Read(const Entries& api, DWORD flags) : api(api), flags(flags) {}
        void Run() override { devices = ReadDevices(api, flags); }
        Entries api;
        UniqueModule setupapi = LoadSystemLibrary(L"setupapi.dll");
        DWORD flags;
        std::optional<std::vector<PresentDevice>> devices;
    };
    auto read = std::make_unique<Read>(api, flags);
    if (!read->setupapi) return std::nullopt;
    read = RunOffTheWindowThread(std::move(read), DeviceReadLimit);
    if (!read) return std::nullopt;
    return std::move(read->devices);
}

} // namespace juv
