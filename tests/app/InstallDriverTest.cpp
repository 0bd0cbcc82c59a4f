#include "platform/SystemErrors.h"
#include "tests/app/FormFixture.h"

namespace juv::test {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::wstring>;

const std::wstring InstallFolder = L"C:\\Tools\\DARORED";
const std::wstring ToolPath = L"C:\\Tools\\DARORED\\wdi-simple.exe";
const std::wstring DriverFolder = L"C:\\Tools\\DARORED\\usb_driver";
const std::wstring FirstRun = L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer \"Quellbrand "
                              L"Industrie-Elektronik oHG\" --type 1  --wcid";
const std::wstring SecondRun = L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer \"Quellbrand "
                               L"Industrie-Elektronik oHG\" --type 1 ";

class InstallTest : public FormTest {
protected:
    std::vector<std::uint8_t> payload{'M', 'Z', 0x90, 0x00, 0x03, 0xFF};

    InstallTest() {
        shell.admin = true;
        resources.payload = payload;
        files.AddDirectory(L"C:\\Tools");
        files.AddDirectory(files.currentDirectory);
        files.AddFile(commandLine.modulePath, {1, 2, 3});
        // Like the real tool, a run leaves the driver folder in its current directory.
        processes.defaultBehaviour.effect = [this] { files.AddDirectory(files.currentDirectory + L"\\usb_driver"); };
    }

    ~InstallTest() override {
        // Whatever the path through the sequence, every handle it took is given back.
        EXPECT_EQ(resources.handles.Open(), 0);
        EXPECT_EQ(processes.snapshots.Open(), 0);
        EXPECT_EQ(processes.processHandles.Open(), 0);
        EXPECT_EQ(processes.runHandles.Open(), 0);
        EXPECT_EQ(files.openFiles, 0);
        EXPECT_EQ(files.heldFiles.Open(), 0);
        EXPECT_EQ(files.heldFolders.Open(), 0);
    }

    void Run() {
        form.FormCreate();
        form.Timer1Timer();
    }
    std::wstring RunExpectingError() {
        try {
            Run();
        } catch (const Error& e) {
            return e.Message();
        }
        ADD_FAILURE() << "the sequence did not fail";
        return {};
    }
    Texts Params() const {
        Texts result;
        for (const auto& start : processes.starts) result.push_back(start.parameters);
        return result;
    }
};

TEST_F(InstallTest, FreshInstallExtractsRunsTwiceAndEndsWithDone) {
    Run();
    EXPECT_EQ(ui.labels, (Texts{L"Extracting wdi...", L"Creating driver", L"Installing driver", L"DONE!"}));
    EXPECT_EQ(ui.statuses, (Texts{L"TEST wdi-simple 0 KB", L"Install...",
                                  L"Execute: \"" + ToolPath + L"\" " + FirstRun,
                                  L"Execute: \"" + ToolPath + L"\" " + SecondRun,
                                  L"Driver installed; device JUV VCOM not connected"}));
    EXPECT_EQ(*files.Content(ToolPath), payload);
    for (const auto& start : processes.starts) EXPECT_EQ(start.folder, InstallFolder);
    EXPECT_EQ(files.currentDirectory, L"C:\\Users\\tech"); // given back: nothing keeps the folder open
    EXPECT_EQ(files.FilesIn(InstallFolder), (Texts{L"usb_driver", L"wdi-simple.exe"})); // no temporary file left
    EXPECT_FALSE(ui.closed);
}

TEST_F(InstallTest, ToolIsStartedExactlySoWithItsWindowShownInTheMachinesEnvironment) {
    Run();
    ASSERT_EQ(processes.starts.size(), 2u);
    for (const auto& start : processes.starts) {
        EXPECT_EQ(start.path, ToolPath);
        EXPECT_EQ(start.window, StartWindow::Normal);
        EXPECT_EQ(start.environment, StartEnvironment::Machine);
    }
    EXPECT_EQ(Params(), (Texts{FirstRun, SecondRun}));
    EXPECT_EQ(FirstRun.size(), 121u);
    EXPECT_EQ(SecondRun.size(), 114u);
    EXPECT_EQ(processes.runWaits, (std::vector<std::chrono::milliseconds>{60000ms, 60000ms}));
    EXPECT_TRUE(shell.launches.empty()); // the shell is never asked how to open it
}

TEST_F(InstallTest, StateOfTheDiskDecidesWhichStepsRun) {
    struct Row {
        bool tool, driver;
        Texts labels;
        Texts params;
    };
    const Row rows[] = {
        {false, true, {L"Extracting wdi...", L"Installing driver", L"DONE!"}, {SecondRun}},
        {true, false, {L"Creating driver", L"Installing driver", L"DONE!"}, {FirstRun, SecondRun}},
        {true, true, {L"Installing driver", L"DONE!"}, {SecondRun}},
    };
    for (const Row& row : rows) {
        files.nodes.erase(FakeFileSystem::Key(ToolPath));
        files.nodes.erase(FakeFileSystem::Key(DriverFolder));
        if (row.tool) files.AddFile(ToolPath, payload);
        if (row.driver) files.AddDirectory(DriverFolder);
        ui = FakeUserInterface{};
        processes.starts.clear();
        files.log.clear();
        Run();
        EXPECT_EQ(ui.labels, row.labels) << row.tool << row.driver;
        EXPECT_EQ(Params(), row.params) << row.tool << row.driver;
        const bool wrote = std::find(files.log.begin(), files.log.end(), L"create " + ToolPath + L".4242.tmp") != files.log.end();
        EXPECT_EQ(wrote, !row.tool);
    }
}

TEST_F(InstallTest, ToolFileThatIsNotThePayloadIsReplaced) {
    for (const std::vector<std::uint8_t>& stale : {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{'M', 'Z'},
                                                   std::vector<std::uint8_t>{'M', 'Z', 0x90, 0x00, 0x03, 0xFE}}) {
        files.AddFile(ToolPath, stale);
        files.AddDirectory(DriverFolder);
        ui = FakeUserInterface{};
        Run();
        EXPECT_EQ(ui.labels.front(), L"Extracting wdi...");
        EXPECT_EQ(*files.Content(ToolPath), payload);
        EXPECT_EQ(ui.label, L"DONE!");
    }
}

TEST_F(InstallTest, AutoClosesTheWindowAfterDoneAsAskedAtTheEnd) {
    for (const wchar_t* form_ : {L"/AUTO", L"/auto", L"-AUTO"}) {
        Parameters(form_);
        ui = FakeUserInterface{};
        Run();
        EXPECT_TRUE(ui.closed) << form_;
        EXPECT_EQ(ui.events.back(), L"close");
    }
    // The command line is read again at the end; what creation saw does not count.
    Parameters(L"/AUTO");
    form.FormCreate();
    Parameters(L"");
    ui = FakeUserInterface{};
    form.Timer1Timer();
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_FALSE(ui.closed);
}

TEST_F(InstallTest, MissingDriverFolderAfterTheFirstRunFailsWithoutASecondRun) {
    Parameters(L"/AUTO");
    processes.defaultBehaviour.effect = nullptr;
    Run();
    EXPECT_EQ(Params(), Texts{FirstRun});
    EXPECT_EQ(ui.labels.back(), L"FAILED!");
    EXPECT_EQ(ui.statuses.back(), L"Driver folder missing");
    EXPECT_FALSE(ui.closed);
}

TEST_F(InstallTest, FirstRunsExitCodeIsNoVerdict) {
    processes.behaviours = {ExitsWith(0xFFFFFFF7, processes.defaultBehaviour.effect),
                        processes.defaultBehaviour};
    Run();
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_EQ(Params(), (Texts{FirstRun, SecondRun})); // not even Windows' refusal is run again
}

TEST_F(InstallTest, SecondRunThatDidNotSucceedIsReportedAndTheWindowStaysOpen) {
    struct Case {
        ToolBehaviour behaviour;
        std::wstring reason;
    };
    const Case cases[] = {
        {Refuses(), L"Cannot start wdi-simple.exe"},
        {ExitsWith(3), L"Tool failed with exit code 3"},
        {ExitsWith(0xFFFFFFFF), L"Tool failed with exit code -1 (input/output error)"},
        {ExitsWith(0xC0000005), L"Tool failed with exit code -1073741819"},
        {WaitFails(), L"Tool result unknown"},
        {ExitsWith(std::nullopt), L"Tool result unknown"},
    };
    Parameters(L"/AUTO");
    for (const Case& c : cases) {
        files.AddDirectory(DriverFolder);
        ui = FakeUserInterface{};
        processes.behaviours = {c.behaviour};
        Run();
        EXPECT_EQ(ui.labels.back(), L"FAILED!") << c.reason;
        EXPECT_EQ(ui.statuses.back(), c.reason);
        EXPECT_FALSE(ui.closed) << c.reason;
    }
}

// A run still at work after ten minutes may yet install: nothing runs beside it, from this
// installer or another, while this one lives.
TEST_F(InstallTest, RunStillAtWorkAfterTenMinutesEndsTheSequenceAndKeepsTheMutex) {
    {
        TJUVDriverForm lasting{{commandLine, shell, processes, resources, files, ui, devices, sync, store}};
        JUVDriverForm = &lasting;
        processes.behaviours = {Hangs(processes.defaultBehaviour.effect)};
        lasting.FormCreate();
        lasting.Timer1Timer();
        EXPECT_EQ(processes.runWaits, std::vector<std::chrono::milliseconds>(10, 1min));
        EXPECT_EQ(ui.statuses.at(3), L"Still installing: the driver tool has been working for 1 min");
        EXPECT_EQ(ui.statuses.at(11), L"Still installing: the driver tool has been working for 9 min");
        EXPECT_EQ(ui.statuses.at(12), L"Wait Timeout!");
        EXPECT_EQ(ui.events.back(), L"finished: failed | Wait Timeout!");
        EXPECT_EQ(sync.owned[InstallMutexName], 1);
        lasting.Timer1Timer(); // a tick someone posts afterwards
        EXPECT_EQ(Params(), Texts{FirstRun}); // though it left the driver folder
    }
    JUVDriverForm = &form;
    EXPECT_EQ(sync.owned[InstallMutexName], 0);
}

// Windows refuses a driver install while it installs a device itself, as it does right after
// the device was plugged in.
TEST_F(InstallTest, EachRunWaitsUpToFiveMinutesForWindowsAndARefusedInstallRunIsTriedOnceMore) {
    devices.busyFor = 5;
    processes.behaviours = {processes.defaultBehaviour, ExitsWith(0xFFFFFFF7, [this] { devices.busyFor = 1000; })};
    Run();
    EXPECT_EQ(processes.startTimes, (std::vector<std::chrono::milliseconds>{2500ms, 2500ms, 2500ms + 5min}));
    EXPECT_EQ(ui.statuses.at(2), L"Waiting for Windows to finish installing devices");
    EXPECT_EQ(ui.label, L"DONE!");
}

// ---- the device's own verdict ------------------------------------------------------------

PresentDevice Device(std::wstring service, std::uint32_t problem = 0,
                     std::vector<std::wstring> ids = {L"USB\\VID_1781&PID_07F4&REV_0100&MI_00",
                                                      L"usb\\vid_1781&pid_07f4&mi_00"}) {
    return PresentDevice{std::move(ids), std::move(service), problem, false, {}};
}

TEST_F(InstallTest, DeviceDecidesTheVerdictAfterASuccessfulInstallRun) {
    using Answer = FakeDevices::Answer;
    const PresentDevice other = Device(L"usbser", 0, {L"USB\\VID_1781&PID_07F4&MI_01", L"USB\\VID_1781&PID_07F4"});
    PresentDevice restartPending = Device(L"libusb0");
    restartPending.needsRestart = true;
    struct Case {
        std::deque<Answer> answers;
        std::wstring label, status;
        std::chrono::milliseconds waited;
    };
    const std::vector<Case> cases = {
        {{Answer{{other}}}, L"DONE!", L"Driver installed; device JUV VCOM not connected", 0ms},
        {{Answer{{Device(L"LIBUSB0"), other}}}, L"DONE!", L"Device JUV VCOM is using driver libusb0", 0ms},
        {{std::nullopt}, L"DONE!", L"Driver installed; device state unknown", 0ms},
        // On its new driver once Windows restarts: done at once, waiting would change nothing.
        {{Answer{{Device(L"libusb0", 14)}}}, L"DONE!", L"Driver installed; restart Windows to finish", 0ms},
        {{Answer{{restartPending, Device(L"libusb0")}}}, L"DONE!", L"Driver installed; restart Windows to finish", 0ms},
        {{Answer{{restartPending, Device(L"usbser")}}}, L"FAILED!", L"Device JUV VCOM still uses driver usbser", 5000ms},
        // Windows restarts the device on its new driver a second later.
        {{Answer{{Device(L"usbser")}}, Answer{{Device(L"usbser")}}, Answer{{Device(L"libusb0")}}},
         L"DONE!", L"Device JUV VCOM is using driver libusb0", 1000ms},
        // Never: after five seconds of looking, the last thing seen is the reason.
        {{Answer{{Device(L"usbser")}}}, L"FAILED!", L"Device JUV VCOM still uses driver usbser", 5000ms},
        {{Answer{{Device(L"")}}}, L"FAILED!", L"Device JUV VCOM has no driver", 5000ms},
        {{Answer{{Device(L"libusb0"), Device(L"libusb0", 10)}}}, L"FAILED!", L"Device JUV VCOM problem code 10", 5000ms},
        // A list that cannot be read later on takes nothing back.
        {{Answer{{Device(L"usbser")}}, std::nullopt}, L"FAILED!", L"Device JUV VCOM still uses driver usbser", 5000ms},
    };
    Parameters(L"/AUTO");
    for (const Case& c : cases) {
        files.nodes.erase(FakeFileSystem::Key(DriverFolder));
        devices.answers = c.answers;
        processes.slept = 0ms;
        ui = FakeUserInterface{};
        Run();
        EXPECT_EQ(ui.label, c.label) << c.status;
        EXPECT_EQ(ui.status, c.status);
        EXPECT_EQ(processes.slept, c.waited) << c.status;
        EXPECT_EQ(ui.closed, c.label == L"DONE!") << c.status; // /AUTO closes only after DONE!
    }

    // A failed install run is the verdict: Windows is not asked.
    devices.looks = 0;
    files.nodes.erase(FakeFileSystem::Key(DriverFolder));
    processes.behaviours = {processes.defaultBehaviour, ExitsWith(5)};
    ui = FakeUserInterface{};
    Run();
    EXPECT_EQ(ui.status, L"Tool failed with exit code 5");
    EXPECT_EQ(devices.looks, 0);
}

TEST_F(InstallTest, ToolCodesAreExplainedWhereTheLibraryDocumentsThem) {
    const std::pair<std::int32_t, std::wstring> table[] = {
        {-1, L" (input/output error)"}, {-2, L" (invalid parameter)"}, {-3, L" (access denied)"},
        {-4, L" (device not found)"}, {-5, L" (not found)"}, {-6, L" (busy)"}, {-7, L" (timed out)"},
        {-8, L" (overflow)"}, {-9, L" (another driver installation is pending)"}, {-10, L" (interrupted)"},
        {-11, L" (out of resources)"}, {-12, L" (not supported on this system)"}, {-13, L" (already exists)"},
        {-14, L" (cancelled by the user)"}, {-15, L" (administrator rights required)"},
        {-16, L" (32-bit tool on 64-bit Windows)"}, {-17, L" (bad INF file)"}, {-18, L" (catalog file missing)"},
        {-19, L" (unsigned drivers blocked by system policy)"}, {-99, L" (other error)"},
        {-20, L""}, {-98, L""}, {1, L""}, {3, L""}, {-1073741819, L""}};
    for (const auto& [code, meaning] : table) {
        files.AddDirectory(DriverFolder);
        processes.behaviours = {ExitsWith(static_cast<std::uint32_t>(code)), ExitsWith(static_cast<std::uint32_t>(code))};
        ui = FakeUserInterface{};
        Run();
        EXPECT_EQ(ui.status, L"Tool failed with exit code " + std::to_wstring(code) + meaning);
    }
}

// ---- the live window ---------------------------------------------------------------------

// The waits dispatch messages, so anything the window hears during a tool run reaches the
// logic in the middle of the sequence: here it arrives from inside the fake tool's run.
TEST_F(InstallTest, WhileInstallingNoHandlerStartsAnythingAndNothingMayCloseTheWindow) {
    shell.admin = false;
    Parameters(L"/AUTO");
    form.FormCreate();
    shell.admin = true;
    std::vector<bool> mayClose;
    processes.defaultBehaviour.effect = [this, &mayClose] {
        files.AddDirectory(files.currentDirectory + L"\\usb_driver");
        mayClose.push_back(form.FormCloseQuery());
        EXPECT_TRUE(ui.installing);
        const std::size_t launches = processes.starts.size();
        form.Timer1Timer();  // a tick posted by someone else: no second sequence
        form.Button1Click(); // a click sent by another program: no relaunch
        EXPECT_EQ(processes.starts.size(), launches);
    };
    form.Timer1Timer();
    EXPECT_EQ(mayClose, (std::vector<bool>{false, false}));
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_EQ(ui.installRuns, 1);
    EXPECT_FALSE(ui.installing);
    EXPECT_TRUE(form.FormCloseQuery());
    EXPECT_FALSE(ui.quitPosted);

    // A sequence that fails lets go just the same.
    resources.payload.reset();
    files.nodes.erase(FakeFileSystem::Key(ToolPath));
    EXPECT_ANY_THROW(form.Timer1Timer());
    EXPECT_FALSE(ui.installing);
    EXPECT_TRUE(form.FormCloseQuery());
}

TEST_F(InstallTest, TaskbarShowsProgressDuringEachRunThenTheVerdict) {
    const auto progressAndLabels = [this] {
        Texts seen;
        for (const std::wstring& e : ui.events)
            if (e.rfind(L"progress: ", 0) == 0 || e.rfind(L"label: ", 0) == 0 || e.rfind(L"finished: ", 0) == 0)
                seen.push_back(e);
        return seen;
    };
    Run();
    EXPECT_EQ(progressAndLabels(),
              (Texts{L"label: Extracting wdi...", L"label: Creating driver", L"progress: indeterminate", L"progress: none",
                     L"label: Installing driver", L"progress: indeterminate", L"progress: none", L"label: DONE!",
                     L"finished: done | Driver installed; device JUV VCOM not connected"}));
    // A tool that never started showed no progress at all.
    ui = FakeUserInterface{};
    processes.behaviours = {Refuses()};
    Run();
    EXPECT_EQ(progressAndLabels(),
              (Texts{L"label: Installing driver", L"label: FAILED!", L"finished: failed | Cannot start wdi-simple.exe"}));
}

// ---- the tool's folder -------------------------------------------------------------------

TEST_F(InstallTest, ToolFolderIsMadeForAdministratorsAndMustHoldNothingThatCouldRunWithTheTool) {
    Run();
    EXPECT_EQ(files.log.front(), L"make " + InstallFolder); // made and held in one step

    // Whatever Windows could load into the tool stops the sequence before the run; it is named,
    // the first in alphabetical order whatever the letter case, and left where it is.
    struct Case {
        std::vector<std::wstring> names;
        std::wstring named;
    };
    const Case cases[] = {
        {{L"version.dll"}, L"version.dll"},
        {{L"VERSION.DLL"}, L"VERSION.DLL"},
        {{L"setup.exe"}, L"setup.exe"},
        {{L"wdi-simple.exe.manifest"}, L"wdi-simple.exe.manifest"},
        {{L"WDI-Simple.exe.Local\\"}, L"WDI-Simple.exe.Local"}, // a folder
        {{L"zz.dll", L"b.MANIFEST", L"A.exe", L"readme.txt"}, L"A.exe"},
    };
    Parameters(L"/AUTO");
    for (const Case& c : cases) {
        files.nodes.clear();
        files.AddDirectory(DriverFolder);
        files.AddFile(ToolPath, payload);
        for (const std::wstring& name : c.names) {
            if (name.back() == L'\\')
                files.AddDirectory(InstallFolder + L"\\" + name);
            else
                files.AddFile(InstallFolder + L"\\" + name, {'x'});
        }
        const std::size_t entries = files.nodes.size();
        processes.starts.clear();
        ui = FakeUserInterface{};
        EXPECT_EQ(RunExpectingError(), L"Unexpected file \"" + c.named + L"\" in DARORED: remove it and start again");
        EXPECT_TRUE(processes.starts.empty()) << c.named;
        EXPECT_EQ(files.nodes.size(), entries) << c.named; // nothing deleted
        EXPECT_FALSE(ui.closed);
    }

    // Names that merely look alike do not count, and a DLL that appears during the first run
    // stops the second.
    files.nodes.clear();
    for (const wchar_t* name : {L"wdi-simple.exe.4242.tmp", L"notes.dll.txt", L"dll", L"exe.log"})
        files.AddFile(InstallFolder + L"\\" + name, {'x'});
    processes.starts.clear();
    processes.defaultBehaviour.effect = [this] {
        files.AddDirectory(DriverFolder);
        files.AddFile(InstallFolder + L"\\libusb0.dll", {'x'});
    };
    EXPECT_EQ(RunExpectingError(), L"Unexpected file \"libusb0.dll\" in DARORED: remove it and start again");
    EXPECT_EQ(Params(), Texts{FirstRun});
}

// ---- failures that end the sequence ------------------------------------------------------

TEST_F(InstallTest, MissingPayloadEndsTheSequenceEvenWithAToolFileThere) {
    resources.payload.reset();
    files.AddFile(ToolPath, payload);
    Parameters(L"/AUTO");
    EXPECT_EQ(RunExpectingError(), L"Ressource WDISIMPLE nicht gefunden");
    EXPECT_TRUE(processes.starts.empty());
    EXPECT_FALSE(ui.closed);
    EXPECT_EQ(ui.statuses.back(), L"Install...");
}

TEST_F(InstallTest, MissingPayloadWithoutToolFileFailsAfterMakingTheFolder) {
    resources.payload.reset();
    EXPECT_EQ(RunExpectingError(), L"Ressource WDISIMPLE nicht gefunden");
    EXPECT_EQ(ui.labels, Texts{L"Extracting wdi..."});
    EXPECT_TRUE(files.IsDirectory(InstallFolder));
    EXPECT_FALSE(files.IsFile(ToolPath));
}

TEST_F(InstallTest, DirectoryAtTheToolPathEndsWithTheFileCreationError) {
    files.AddDirectory(ToolPath);
    EXPECT_EQ(RunExpectingError(), L"Datei \"" + ToolPath + L"\" kann nicht erstellt werden. System text 5");
    EXPECT_TRUE(files.IsDirectory(ToolPath));
    EXPECT_EQ(files.FilesIn(InstallFolder), Texts{L"wdi-simple.exe"}); // the temporary file is gone
}

TEST_F(InstallTest, ToolFileThatCannotBeCreatedNamesTheToolPath) {
    files.createFileErrors[ToolPath + L".4242.tmp"] = ErrorCode::AccessDenied;
    EXPECT_EQ(RunExpectingError(), L"Datei \"" + ToolPath + L"\" kann nicht erstellt werden. System text 5");
    EXPECT_TRUE(processes.starts.empty());
}

TEST_F(InstallTest, ShortWriteLeavesNoPartialToolAndKeepsTheOldOne) {
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    files.AddFile(ToolPath, old);
    files.writeLimit = 2;
    EXPECT_EQ(RunExpectingError(), L"Stream-Schreibfehler");
    EXPECT_EQ(*files.Content(ToolPath), old);
    EXPECT_EQ(files.FilesIn(InstallFolder), Texts{L"wdi-simple.exe"});
    EXPECT_TRUE(processes.starts.empty());
}

TEST_F(InstallTest, ToolHeldOpenByAnotherProgramIsNotRunUnchecked) {
    files.AddFile(ToolPath, payload);
    files.nodes[FakeFileSystem::Key(ToolPath)].lockedExclusively = true;
    EXPECT_EQ(RunExpectingError(), L"wdi-simple.exe in DARORED is in use by another program: close it and start again");
    EXPECT_TRUE(processes.starts.empty());
    EXPECT_EQ(*files.Content(ToolPath), payload);
}

// What runs with administrator rights is held from its check to the end of the sequence: the
// bytes compared are the bytes that run, and nobody can swap the tool or the folder meanwhile.
// A folder a user made beforehand is not used at all: it is moved aside whole, first thing.
TEST_F(InstallTest, FolderSomeoneElseMadeIsMovedAsideWholeAndTheToolRunsFromANewOneHeldThroughEveryRun) {
    files.AddDirectory(InstallFolder);
    files.nodes[InstallFolder].security.owner = Trustee::Other;
    files.AddFile(ToolPath, {'e', 'v', 'i', 'l'});
    files.AddDirectory(DriverFolder);
    files.AddFile(L"C:\\Users\\tech\\other.exe", {'x'});
    std::vector<std::uint32_t> swaps;
    processes.defaultBehaviour.effect = [&] {
        EXPECT_EQ(files.heldFolders.Open(), 2); // the installer's folder and the install folder
        EXPECT_EQ(files.heldFiles.Open(), 1);
        swaps.push_back(files.MoveOver(L"C:\\Users\\tech\\other.exe", ToolPath));
        files.AddDirectory(DriverFolder);
    };
    Run();
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_EQ(Params(), (Texts{FirstRun, SecondRun}));
    EXPECT_EQ(swaps, (std::vector<std::uint32_t>{ErrorCode::SharingViolation, ErrorCode::SharingViolation}));
    EXPECT_EQ(*files.Content(ToolPath), payload);
    EXPECT_EQ(files.log.at(0), L"rename " + InstallFolder + L" -> " + InstallFolder + L".old-1");
    EXPECT_EQ(files.log.at(1), L"make " + InstallFolder);
    EXPECT_EQ(*files.Content(InstallFolder + L".old-1\\wdi-simple.exe"), (std::vector<std::uint8_t>{'e', 'v', 'i', 'l'}));
    EXPECT_TRUE(files.IsDirectory(InstallFolder + L".old-1\\usb_driver"));
}

TEST_F(InstallTest, OnlyAFolderThatWasNeverAnyoneElsesIsUsedAnythingElseIsMovedAsideOrStopsTheInstall) {
    struct Case {
        const char* named;
        std::function<void()> arrange;
        bool movedAside;
    };
    const Case cases[] = {
        {"the administrators' own", [] {}, false},
        {"others may add files", [&] { files.nodes[InstallFolder].security.entries.push_back({true, Trustee::Other, FileRight::AddFile}); }, true},
        {"its list cannot be read", [&] { files.readSecurityErrors[InstallFolder] = ErrorCode::AccessDenied; }, true},
        {"a link", [&] { files.nodes[InstallFolder].link = true; }, true},
        {"a link deep inside", [&] { files.AddDirectory(DriverFolder + L"\\x86\\inner"); files.nodes[DriverFolder + L"\\x86\\inner"].link = true; }, true},
        {"DARORED.old-1 taken", [&] { files.nodes[InstallFolder].security.owner = Trustee::Other; files.AddFile(InstallFolder + L".old-1"); }, true},
    };
    for (const Case& c : cases) {
        files.nodes.clear();
        files.readSecurityErrors.clear();
        files.AddFile(commandLine.modulePath, {1});
        files.AddFile(ToolPath, payload);
        files.AddDirectory(DriverFolder);
        c.arrange();
        processes.starts.clear();
        ui = FakeUserInterface{};
        Run();
        EXPECT_EQ(ui.label, L"DONE!") << c.named;
        // Used as it is: the tool and the driver files it holds; moved aside: a fresh install.
        EXPECT_EQ(Params(), (c.movedAside ? Texts{FirstRun, SecondRun} : Texts{SecondRun})) << c.named;
        const std::wstring aside = InstallFolder + (files.IsFile(InstallFolder + L".old-1") ? L".old-2" : L".old-1");
        EXPECT_EQ(files.Content(aside + L"\\wdi-simple.exe") != nullptr, c.movedAside) << c.named;
    }

    // Held by another program that does not let it be moved: nothing runs, nothing changes.
    files.nodes.clear();
    files.AddFile(commandLine.modulePath, {1});
    files.AddFile(ToolPath, {'o', 't', 'h', 'e', 'r'});
    files.nodes[InstallFolder].security.owner = Trustee::Other;
    files.nodes[InstallFolder].heldByAnother = true;
    const auto before = files.nodes.size();
    processes.starts.clear();
    Parameters(L"/AUTO");
    EXPECT_EQ(RunExpectingError(), L"DARORED could not be protected from other users: remove it and start again");
    EXPECT_TRUE(processes.starts.empty());
    EXPECT_EQ(files.nodes.size(), before);
    EXPECT_EQ(*files.Content(ToolPath), (std::vector<std::uint8_t>{'o', 't', 'h', 'e', 'r'}));
    EXPECT_FALSE(ui.closed);
}

// Every step after the installer's folder is held goes through that hold, and every path the
// system needs is the one it resolved for the held folder: a link above it pointed elsewhere
// afterwards, by then judging a folder found there, changes none of them. A path that no longer
// opens the tool held starts nothing.
TEST_F(InstallTest, EveryStepGoesThroughTheHeldFolderWhereverItsNamePointsByThen) {
    const std::wstring real = L"C:\\Data\\DARORED";
    const std::wstring system = L"C:\\Windows\\System32";
    files.AddDirectory(real);
    files.nodes[real].security.owner = Trustee::Other; // a user's: moved aside
    files.AddFile(real + L"\\notes.txt", {'n'});
    files.AddDirectory(system + L"\\DARORED");
    files.finalPaths[L"C:\\Tools"] = L"C:\\Data";
    files.onJudge = [&] { files.finalPaths[L"C:\\Tools"] = system; };
    Run();
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_EQ(*files.Content(real + L".old-1\\notes.txt"), (std::vector<std::uint8_t>{'n'}));
    EXPECT_TRUE(files.FilesIn(system + L"\\DARORED").empty());
    EXPECT_FALSE(files.nodes.count(system + L"\\DARORED.old-1"));
    EXPECT_EQ(processes.starts.at(0).folder, real);
    EXPECT_EQ(*files.Content(real + L"\\wdi-simple.exe"), payload);
    ASSERT_EQ(processes.starts.size(), 2u);
    EXPECT_EQ(processes.starts[1].path, real + L"\\wdi-simple.exe");
    EXPECT_EQ(ui.statuses.at(3), L"Execute: \"" + real + L"\\wdi-simple.exe\" " + SecondRun);

    // The tool's path opening another file than the one held starts nothing.
    files.nodes.clear();
    files.finalPaths.clear();
    files.onJudge = nullptr;
    files.AddFile(commandLine.modulePath, {1});
    files.AddFile(L"C:\\Users\\tech\\other.exe", payload);
    files.nameOpens[ToolPath] = L"C:\\Users\\tech\\other.exe";
    processes.starts.clear();
    ui = FakeUserInterface{};
    Run();
    EXPECT_EQ(ui.label, L"FAILED!");
    EXPECT_EQ(ui.status, L"Driver folder missing");
    EXPECT_TRUE(processes.starts.empty());

    // Nor does one that the system starts from another file by the time it opens the path: it is
    // held back, compared and ended unrun.
    files.nameOpens.clear();
    processes.startedImage = files.IdOf(L"C:\\Users\\tech\\other.exe");
    ui = FakeUserInterface{};
    Run();
    EXPECT_EQ(ui.status, L"Driver folder missing");
    ASSERT_EQ(processes.starts.size(), 1u);
    EXPECT_EQ(processes.starts[0].image, files.IdOf(ToolPath));
    EXPECT_FALSE(files.IsDirectory(DriverFolder));
}

// A USB stick or a network folder keeps no access lists of its own, and a folder whose name the
// system rewrites (a trailing dot) names another one: the install folder goes to the
// administrators' folder in the 32-bit Program Files instead, held to the same rules, and
// nothing is written beside the installer.
TEST_F(InstallTest, WhereNoFolderCanBeProtectedTheInstallFolderGoesToProgramFiles) {
    const std::wstring place = L"C:\\Program Files (x86)\\JUV LibUSB driver installer";
    const struct {
        const char* named;
        std::wstring exeFolder;
        VolumeTraits volume;
    } cases[] = {
        {"no access lists", L"C:\\Tools", {false, false}},
        {"a network folder", L"C:\\Tools", {true, true}},
        {"a rewritten name", L"C:\\Tools\\x.", {true, false}},
    };
    for (const auto& c : cases) {
        files.nodes.clear();
        commandLine.modulePath = c.exeFolder + L"\\ZoroDerERIDovudi.exe";
        files.AddFile(commandLine.modulePath, {1});
        files.AddFile(L"C:\\Tools\\DARORED\\user.dll", {'u'}); // the user's: left alone
        files.AddDirectory(L"C:\\Tools\\x\\DARORED");
        files.AddDirectory(place);
        files.nodes[place].security.owner = Trustee::Other; // someone was first: moved aside
        files.volumes[L"C:\\Tools"] = c.volume;
        processes.starts.clear();
        ui = FakeUserInterface{};
        try { Run(); } catch (const Error& e) { ADD_FAILURE() << c.named << " " << std::string(e.Message().begin(), e.Message().end()); for (auto& l : files.log) ADD_FAILURE() << std::string(l.begin(), l.end()); }
        EXPECT_EQ(ui.label, L"DONE!") << c.named;
        EXPECT_EQ(*files.Content(place + L"\\DARORED\\wdi-simple.exe"), payload) << c.named;
        EXPECT_EQ(processes.starts.at(0).folder, place + L"\\DARORED") << c.named;
        EXPECT_TRUE(files.IsDirectory(place + L".old-1")) << c.named;
        EXPECT_EQ(files.FilesIn(L"C:\\Tools\\DARORED"), Texts{L"user.dll"}) << c.named;
        EXPECT_TRUE(files.FilesIn(L"C:\\Tools\\x\\DARORED").empty()) << c.named;
        EXPECT_EQ(Params(), (Texts{FirstRun, SecondRun})) << c.named;
    }

    // A folder made there that turns out to lie where nothing keeps access lists is not used.
    files.nodes.clear();
    files.volumes = {{InstallFolder, VolumeTraits{false, false}}};
    commandLine.modulePath = L"C:\\Tools\\ZoroDerERIDovudi.exe";
    files.AddFile(commandLine.modulePath, {1});
    processes.starts.clear();
    Parameters(L"/AUTO");
    EXPECT_EQ(RunExpectingError(), L"DARORED could not be protected from other users: remove it and start again");
    EXPECT_TRUE(processes.starts.empty());
    EXPECT_FALSE(files.IsFile(ToolPath));
}

TEST_F(InstallTest, LeftoverTemporaryFileIsOverwritten) {
    files.AddFile(ToolPath + L".4242.tmp", {'x'});
    Run();
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_EQ(files.FilesIn(InstallFolder), (Texts{L"usb_driver", L"wdi-simple.exe"}));
}

TEST_F(InstallTest, FolderThatCannotBeMadeIsShownThenTheExtractionFails) {
    files.createDirectoryErrors[InstallFolder] = ErrorCode::AccessDenied;
    const std::wstring error = RunExpectingError();
    EXPECT_EQ(error, L"Datei \"" + ToolPath + L"\" kann nicht erstellt werden. System text 3");
    EXPECT_EQ(ui.events.at(ui.events.size() - 1), L"dialog: Dateizugriff verweigert | Zorodereridovudi");
}

TEST_F(InstallTest, FolderAnotherInstallerMadeInBetweenIsUsedWithoutADialog) {
    files.createDirectoryErrors[InstallFolder] = ErrorCode::AlreadyExists;
    Run();
    EXPECT_EQ(std::count_if(ui.events.begin(), ui.events.end(),
                            [](const std::wstring& e) { return e.rfind(L"dialog: ", 0) == 0; }),
              0);
    EXPECT_EQ(ui.label, L"DONE!");
    EXPECT_EQ(*files.Content(ToolPath), payload);
    // A file of that name is still a failure that is shown.
    files.nodes.clear();
    files.AddFile(commandLine.modulePath, {1});
    files.AddFile(InstallFolder, {'k'});
    ui = FakeUserInterface{};
    EXPECT_ANY_THROW(Run());
    EXPECT_NE(std::find(ui.events.begin(), ui.events.end(), L"dialog: E/A-Fehler 183 | Zorodereridovudi"), ui.events.end());
}

TEST_F(InstallTest, InOutErrorTextsFollowTheSystemCode) {
    const std::pair<std::uint32_t, std::wstring> table[] = {
        {2, L"Die angegebene Datei wurde nicht gefunden"},
        {3, L"Ung\u00fcltiger Dateiname - C:\\Tools\\DARORED\\"},
        {4, L"Zu viele ge\u00f6ffnete Dateien"},
        {5, L"Dateizugriff verweigert"},
        {100, L"Versuch hinter dem Dateiende zu lesen"},
        {101, L"Zu wenig Speicherplatz"},
        {106, L"Ung\u00fcltige numerische Eingabe"},
        {32, L"E/A-Fehler 32"},
        {1234, L"E/A-Fehler 1234"},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(InOutErrorMessage(code, InstallFolder + L"\\"), text);
        files.createDirectoryErrors[InstallFolder] = code;
        ui = FakeUserInterface{};
        EXPECT_ANY_THROW(Run());
        EXPECT_NE(std::find(ui.events.begin(), ui.events.end(), L"dialog: " + text + L" | Zorodereridovudi"),
                  ui.events.end())
            << code;
    }
}

TEST_F(InstallTest, CurrentDirectoryThatCannotBeSetEndsTheSequence) {
    files.AddDirectory(InstallFolder);
    files.setCurrentDirectoryErrors[InstallFolder] = ErrorCode::PathNotFound;
    EXPECT_EQ(RunExpectingError(), L"Ung\u00fcltiger Dateiname - C:\\Tools\\DARORED\\");
    EXPECT_TRUE(processes.starts.empty());
    files.setCurrentDirectoryErrors[InstallFolder] = ErrorCode::AccessDenied;
    EXPECT_EQ(RunExpectingError(), L"Dateizugriff verweigert");
}

TEST_F(InstallTest, PathsFollowTheExecutableWhereverItLies) {
    commandLine.modulePath = L"C:\\Program Files (x86)\\Pr\u00fcf \u65e5\u672c\\ZoroDerERIDovudi.exe";
    files.AddDirectory(L"C:\\Program Files (x86)\\Pr\u00fcf \u65e5\u672c");
    Run();
    const std::wstring tool = L"C:\\Program Files (x86)\\Pr\u00fcf \u65e5\u672c\\DARORED\\wdi-simple.exe";
    EXPECT_EQ(*files.Content(tool), payload);
    EXPECT_EQ(processes.starts.at(0).path, tool);
    EXPECT_EQ(ui.label, L"DONE!");
}

// ---- stopping the server -----------------------------------------------------------------

TEST_F(InstallTest, StopLoopEndsEveryServerBeforeInstalling) {
    processes.Add(100, L"VIZAVU.EXE");
    processes.Add(200, L"notepad.exe");
    processes.Add(300, L"vizavu.exe").session = 2; // another user's, but one the installer can end
    Run();
    EXPECT_EQ(processes.terminated, (std::vector<std::uint32_t>{100, 300})); // all in one pass
    EXPECT_EQ(processes.waits, (std::vector<std::chrono::milliseconds>{1000ms, 1000ms}));
    EXPECT_EQ(processes.sleeps, 1);
    EXPECT_TRUE(processes.Running(200));
    EXPECT_EQ(ui.label, L"DONE!");
}

// Between the snapshot and the open, the server ended and Windows gave its id to another
// program: that one is none of the installer's business.
TEST_F(InstallTest, ProcessWhoseIdWentToAnotherProgramIsLeftAndTheInstallGoesOn) {
    processes.Add(100, L"VIZAVU.EXE").imageAfterOpen = L"C:\\Windows\\System32\\svchost.exe";
    processes.Add(300, L"VIZAVU.EXE");
    Run();
    EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{300});
    EXPECT_TRUE(processes.Running(100));
    EXPECT_EQ(processes.starts.size(), 2u);
    EXPECT_EQ(ui.label, L"DONE!");
}

// One the installer cannot open, or whose handle does not tell what it runs, serves another
// user there; it is no reason to stop.
TEST_F(InstallTest, ServerOfAnotherSessionThatCannotBeEndedIsLeftAndTheInstallGoesOn) {
    FakeProcess& closed = processes.Add(77, L"VIZAVU.EXE");
    closed.openable = false;
    closed.session = 2;
    FakeProcess& unreadable = processes.Add(78, L"VIZAVU.EXE");
    unreadable.imageUnreadable = true;
    unreadable.session = 3;
    Run();
    EXPECT_TRUE(processes.terminated.empty());
    EXPECT_TRUE(processes.Running(77) && processes.Running(78));
    EXPECT_EQ(processes.sleeps, 0);
    EXPECT_EQ(processes.starts.size(), 2u);
    EXPECT_EQ(ui.label, L"DONE!");
}

TEST_F(InstallTest, ServerStartedAgainDuringTheLoopIsEndedAgain) {
    processes.Add(100, L"VIZAVU.EXE").restarts = 3;
    Run();
    EXPECT_EQ(processes.terminated.size(), 4u);
    EXPECT_EQ(ui.label, L"DONE!");
}

// In the installer's own session, or where the sessions cannot be told apart, a server that
// cannot be ended holds the device.
TEST_F(InstallTest, ServerOfOurSessionThatCannotBeEndedStopsTheSequenceAfterBoundedTries) {
    struct Row {
        std::optional<std::uint32_t> session, ownSession;
        bool openable;
    };
    const Row rows[] = {{1, 1, false}, {std::nullopt, 1, false}, {2, std::nullopt, false}, {1, 1, true}};
    for (const Row& row : rows) {
        processes.table.clear();
        FakeProcess& server = processes.Add(77, L"VIZAVU.EXE");
        server.session = row.session;
        server.openable = row.openable;
        server.imageUnreadable = true;
        processes.ownSession = row.ownSession;
        processes.sleeps = 0;
        ui = FakeUserInterface{};
        Parameters(L"/AUTO");
        EXPECT_EQ(RunExpectingError(), L"Cannot kill VIZAVU PID 77");
        EXPECT_EQ(std::count(ui.statuses.begin(), ui.statuses.end(), L"Cannot kill VIZAVU PID 77"), 20);
        EXPECT_EQ(processes.sleeps, 20);
        EXPECT_TRUE(processes.terminated.empty());
        EXPECT_TRUE(files.log.empty()); // nothing was touched on disk
        EXPECT_TRUE(processes.starts.empty());
        EXPECT_FALSE(ui.closed);
    }
}

TEST_F(InstallTest, ServerThatDoesNotEndStopsTheSequenceAfterBoundedTries) {
    processes.Add(88, L"VIZAVU.EXE").endsWhenKilled = false;
    EXPECT_EQ(RunExpectingError(), L"Cannot kill VIZAVU PID 88");
    EXPECT_EQ(processes.terminated.size(), 20u);
    EXPECT_EQ(processes.waits.size(), 20u);
    EXPECT_TRUE(std::find(ui.statuses.begin(), ui.statuses.end(), L"Install...") == ui.statuses.end());
}

} // namespace
} // namespace juv::test
