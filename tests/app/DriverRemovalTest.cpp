#include "tests/app/FormFixture.h"

namespace juv::test {
namespace {

using Texts = std::vector<std::wstring>;

const std::wstring HardwareId = L"USB\\VID_1781&PID_07F4&MI_00";
const std::wstring Generic = L"USB\\MS_COMP_LIBUSB0";
const std::wstring Vendor = L"Quellbrand Industrie-Elektronik oHG";

PackageModel Model(std::wstring id, std::wstring service = L"libusb0", std::wstring manufacturer = L"Maker",
                   std::wstring name = L"Device") {
    return {std::move(manufacturer), std::move(name), {std::move(id)}, {std::move(service)}};
}

PresentDevice Node(std::wstring instanceId, std::wstring service = L"libusb0", std::wstring id = HardwareId) {
    PresentDevice node;
    node.instanceId = std::move(instanceId);
    node.hardwareIds = {L"USB\\VID_1781&PID_07F4&REV_0100&MI_00", std::move(id)};
    node.service = std::move(service);
    return node;
}

// The removal through the logic: started as the install is, with /UNINSTALL on the command line.
class RemovalTest : public FormTest {
protected:
    RemovalTest() {
        shell.admin = true;
        Parameters(L"/UNINSTALL");
        // Ours on two ports, ours on another driver, another device on libusb0.
        devices.known = std::vector<PresentDevice>{
            Node(L"USB\\VID_1781&PID_07F4&MI_00\\6&1&0&1"), Node(L"usb\\vid_1781&pid_07f4&mi_00\\6&2&0&2"),
            Node(L"USB\\VID_1781&PID_07F4&MI_00\\6&3&0&3", L"usbser"),
            Node(L"USB\\VID_0000&PID_0001\\1", L"libusb0", L"USB\\VID_0000&PID_0001")};
        store.packages[L"oem12.inf"] = {Model(L"usb\\vid_1781&pid_07f4&mi_00", L"LIBUSB0")};
        store.packages[L"oem3.inf"] = {Model(L"USB\\VID_0000&PID_0001")};
        store.packages[L"oem7.inf"] = {Model(HardwareId, L"usbser")};
    }
    ~RemovalTest() override {
        EXPECT_EQ(store.processHandles.Open(), 0);
        EXPECT_TRUE(shell.launches.empty()); // the tool never runs for a removal
        EXPECT_TRUE(files.log.empty());       // and nothing is written
    }
    void Run() {
        form.FormCreate();
        form.Timer1Timer();
    }
};

TEST_F(RemovalTest, RemovesThisDevicesNodesOnTheDriverThenItsPackageAndNothingElse) {
    processes.Add(100, L"VIZAVU.EXE");
    // Windows sets up what is left of the device after each removal, for a second: waited for.
    store.behaviour.effect = [this] { devices.busyFor = 2; };
    Run();
    EXPECT_EQ(std::count(ui.statuses.begin(), ui.statuses.end(), L"Waiting for Windows to finish installing devices"), 2);
    EXPECT_EQ(ui.buttonText, L" Remove Driver for JUV or QX4530");
    EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{100});
    EXPECT_EQ(store.runs, (Texts{L"/remove-device \"USB\\VID_1781&PID_07F4&MI_00\\6&1&0&1\"",
                                 L"/remove-device \"usb\\vid_1781&pid_07f4&mi_00\\6&2&0&2\"",
                                 L"/delete-driver oem12.inf /uninstall /force"}));
    EXPECT_EQ(ui.labels,
              (Texts{L"Please close JUV USB to TCP Server (VIZAVU.exe) first!", L"Removing driver", L"DONE!"}));
    EXPECT_EQ(ui.status, L"Driver removed");
    EXPECT_EQ(store.waits, std::vector<std::chrono::milliseconds>(3, std::chrono::milliseconds(60000)));
    EXPECT_EQ(store.runEnvironments, std::vector<StartEnvironment>(3, StartEnvironment::Machine));
    EXPECT_EQ(store.packages.size(), 2u);
    EXPECT_EQ(devices.known->size(), 2u);
    EXPECT_FALSE(ui.closed);

    // With /AUTO the window closes after DONE!, and there is nothing left to do the second time.
    Parameters(L"-uninstall /auto");
    store.runs.clear();
    ui = FakeUserInterface{};
    Run();
    EXPECT_TRUE(store.runs.empty());
    EXPECT_EQ(store.usageQueries, 1);
    EXPECT_EQ(ui.status, L"Driver not installed; nothing to remove");
    EXPECT_TRUE(ui.closed);
}

TEST_F(RemovalTest, GenericPackageGoesOnlyUnderTheInstallersNamesAsWindowsComparesThem) {
    store.packages = {
        // Ours, as Windows reads the names after substituting the INF's strings, in any letter
        // case; and a package with both models, deleted once.
        {L"oem20.inf", {Model(Generic, L"libusb0", Vendor, L"JUV VCOM")}},
        {L"oem21.inf",
         {Model(L"usb\\ms_comp_libusb0", L"LIBUSB0", L"QUELLBRAND INDUSTRIE-ELEKTRONIK OHG", L"juv vcom")}},
        {L"oem22.inf", {Model(HardwareId), Model(Generic, L"libusb0", Vendor, L"JUV VCOM")}},
        // Other makers' generic packages, names not substituted, ours for another driver or ID.
        {L"oem30.inf", {Model(Generic, L"libusb0", L"Other Maker", L"JUV VCOM")}},
        {L"oem31.inf", {Model(Generic, L"libusb0", Vendor, L"JUV VCOM 2")}},
        {L"oem32.inf", {Model(Generic, L"libusb0", Vendor + L" ", L"JUV VCOM")}},
        {L"oem33.inf", {Model(Generic, L"libusb0", L"%VendorName%", L"%DeviceName%")}},
        {L"oem34.inf", {Model(Generic, L"WinUSB", Vendor, L"JUV VCOM")}},
        {L"oem35.inf", {Model(L"USB\\MS_COMP_WINUSB", L"libusb0", Vendor, L"JUV VCOM")}},
    };
    Run();
    EXPECT_EQ(store.runs, (Texts{L"/remove-device \"USB\\VID_1781&PID_07F4&MI_00\\6&1&0&1\"",
                                 L"/remove-device \"usb\\vid_1781&pid_07f4&mi_00\\6&2&0&2\"",
                                 L"/delete-driver oem20.inf /uninstall /force",
                                 L"/delete-driver oem21.inf /uninstall /force",
                                 L"/delete-driver oem22.inf /uninstall /force"}));
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_EQ(ui.status, L"Driver removed");
    Texts left;
    for (const auto& [inf, models] : store.packages) left.push_back(inf);
    EXPECT_EQ(left, (Texts{L"oem30.inf", L"oem31.inf", L"oem32.inf", L"oem33.inf", L"oem34.inf", L"oem35.inf"}));

    // A generic package of ours that pnputil leaves in place is not done.
    store.packages[L"oem20.inf"] = {Model(Generic, L"libusb0", Vendor, L"JUV VCOM")};
    store.changesNothing = true;
    store.runs.clear();
    Run();
    EXPECT_EQ(store.runs, Texts{L"/delete-driver oem20.inf /uninstall /force"});
    EXPECT_EQ(ui.status, L"Driver still in the driver store (oem20.inf)");
}

TEST_F(RemovalTest, OlderPnpUtilsAreUsedForWhatTheyCanDo) {
    // Before the commands came: the package is deleted the old way, the nodes stay on the
    // driver, and that is not done.
    store.usage = L"Microsoft PnP Utility\r\n-a - Add driver package(s)\r\n-d - Delete driver package\r\n-f - force";
    Run();
    EXPECT_EQ(store.runs, Texts{L"-f -d oem12.inf"});
    EXPECT_EQ(ui.label, L"FAILED!");
    EXPECT_EQ(ui.status, L"Device JUV VCOM still uses driver libusb0");
}

TEST_F(RemovalTest, EveryOutcomeOfPnpUtilIsItsOwnVerdict) {
    struct Case {
        ToolBehaviour behaviour;
        bool changesNothing;
        std::wstring label, status;
        std::size_t runs;
    };
    const Case cases[] = {
        {ExitsWith(3010), false, L"DONE!", L"Driver removed; restart Windows to finish", 3},
        {ExitsWith(5), false, L"FAILED!", L"pnputil failed with exit code 5 (USB\\VID_1781&PID_07F4&MI_00\\6&1&0&1)", 1},
        {ExitsWith(0xE0000203), false, L"FAILED!",
         L"pnputil failed with exit code -536870397 (USB\\VID_1781&PID_07F4&MI_00\\6&1&0&1)", 1},
        {Refuses(), false, L"FAILED!", L"Cannot start pnputil", 1},
        {Hangs(), false, L"FAILED!", L"Wait Timeout!", 1},
        {ExitsWith(std::nullopt), false, L"FAILED!", L"pnputil result unknown", 1},
        // pnputil's word is not taken for it.
        {ExitsWith(0), true, L"FAILED!", L"Driver still in the driver store (oem12.inf)", 3},
    };
    Parameters(L"/UNINSTALL /AUTO");
    const auto packages = store.packages;
    const auto known = devices.known;
    for (const Case& c : cases) {
        store.packages = packages;
        devices.known = known;
        store.behaviour = c.behaviour;
        store.changesNothing = c.changesNothing;
        store.runs.clear();
        ui = FakeUserInterface{};
        Run();
        EXPECT_EQ(ui.label, c.label) << c.status;
        EXPECT_EQ(ui.status, c.status);
        EXPECT_EQ(store.runs.size(), c.runs) << c.status;
        EXPECT_EQ(ui.closed, c.label == L"DONE!") << c.status;
    }
    // pnputil that cannot even tell what it knows, and lists that cannot be read.
    store.packages = packages;
    devices.known = known;
    store.behaviour = ExitsWith(0);
    store.usage.reset();
    for (const auto& [arrange, status] : std::vector<std::pair<std::function<void()>, std::wstring>>{
             {[] {}, L"Cannot start pnputil"},
             {[&] { store.unreadable = true; }, L"Cannot read the driver store"},
             {[&] { store.unreadable = false; devices.known.reset(); }, L"Cannot list the devices"}}) {
        arrange();
        store.runs.clear();
        ui = FakeUserInterface{};
        Run();
        EXPECT_EQ(ui.status, status);
        EXPECT_TRUE(store.runs.empty()) << status;
    }
}

TEST_F(RemovalTest, ButtonRelaunchesForTheRemoval) {
    shell.admin = false;
    for (const auto& [parameters, passed] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"/UNINSTALL", L"/UNINSTALL"}, {L"/auto x -Uninstall", L"/UNINSTALL /AUTO"}, {L"/AUTO", L"/AUTO"}}) {
        Parameters(parameters);
        shell.launches.clear();
        form.FormCreate();
        form.Button1Click();
        ASSERT_EQ(shell.launches.size(), 1u);
        EXPECT_EQ(shell.launches[0].verb, L"runas");
        EXPECT_EQ(shell.launches[0].parameters.value_or(L"<null>"), passed);
    }
    shell.launches.clear();
}

} // namespace
} // namespace juv::test
