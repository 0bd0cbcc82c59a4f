#include "app/ErrorDisplay.h"
#include "app/SilentMode.h"
#include "platform/SystemErrors.h"
#include "tests/app/FormFixture.h"

namespace juv::test {
namespace {

// A silent run end to end through the logic: the form talks to the silent window, which
// stands in front of the fake screen the way it stands in front of the real window.
class SilentTest : public FormTest {
protected:
    SilentUserInterface silent{ui};
    TJUVDriverForm silentForm{{commandLine, shell, processes, resources, files, silent, devices, sync, store}};
    FakeReports reports;

    SilentTest() {
        JUVDriverForm = &silentForm;
        Parameters(L"-silent");
        files.AddDirectory(L"C:\\Tools");
        processes.defaultBehaviour.effect = [this] { files.AddDirectory(files.currentDirectory + L"\\usb_driver"); };
    }
    // What the window does: creation, the start tick, and an escaping error into the box.
    SilentResult Run() {
        silentForm.FormCreate();
        try {
            silentForm.Timer1Timer();
        } catch (...) {
            ShowException(silent, commandLine, std::current_exception());
        }
        const SilentResult result = silent.Result();
        ReportSilentResult(reports, result);
        return result;
    }
    bool AnyBoxOrDialog() const {
        return std::any_of(ui.events.begin(), ui.events.end(), [](const std::wstring& e) {
            return e.rfind(L"error box", 0) == 0 || e.rfind(L"dialog", 0) == 0;
        });
    }
};

TEST_F(SilentTest, DoneEndsWithZeroAndClosesTheWindowAsAutoWould) {
    const SilentResult result = Run();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.line, L"DONE!");
    EXPECT_TRUE(ui.closed);
    EXPECT_EQ(reports.console, std::vector<std::wstring>{L"DONE!"});
    EXPECT_EQ(reports.eventLog, (std::vector<std::pair<bool, std::wstring>>{{false, L"DONE!"}}));
    EXPECT_EQ(ui.progress, TaskbarProgress::None); // no taskbar button to show anything on
}

TEST_F(SilentTest, DeviceWaitingForARestartEndsWith3010AndSaysSo) {
    const std::vector<std::wstring> ids = {L"USB\\VID_1781&PID_07F4&MI_00"};
    for (const PresentDevice& device : {PresentDevice{ids, L"libusb0", 14, false, {}}, PresentDevice{ids, L"libusb0", 0, true, {}}}) {
        devices.answers = {FakeDevices::Answer{{device}}};
        reports = FakeReports{};
        files.nodes.erase(FakeFileSystem::Key(L"C:\\Tools\\DARORED\\usb_driver"));
        SilentUserInterface fresh{ui};
        TJUVDriverForm form{{commandLine, shell, processes, resources, files, fresh, devices, sync, store}};
        JUVDriverForm = &form;
        form.FormCreate();
        form.Timer1Timer();
        ReportSilentResult(reports, fresh.Result());
        EXPECT_EQ(fresh.Result().exitCode, 3010);
        EXPECT_EQ(ui.label, L"DONE!");
        EXPECT_TRUE(ui.closed);
        const std::wstring line = L"DONE!: Driver installed; restart Windows to finish";
        EXPECT_EQ(L"DONE!: " + ui.status, line);
        EXPECT_EQ(reports.console, std::vector<std::wstring>{line});
        EXPECT_EQ(reports.eventLog, (std::vector<std::pair<bool, std::wstring>>{{false, line}}));
    }
}

TEST_F(SilentTest, FailuresEndTheRunWith1603AndTheirReasonWithoutABox) {
    // A failed install: the window would have stayed open; the run ends instead.
    processes.behaviours = {processes.defaultBehaviour, ExitsWith(3)};
    SilentResult result = Run();
    EXPECT_EQ(result.exitCode, 1603);
    EXPECT_EQ(result.line, L"FAILED!: Tool failed with exit code 3");
    EXPECT_TRUE(ui.quitPosted);
    EXPECT_FALSE(ui.closed);
    EXPECT_EQ(reports.eventLog.back(), std::make_pair(true, result.line));

    // A file where the install folder belongs: the folder dialog is passed over, and the error
    // that would have reached the box is the reason.
    SilentUserInterface fresh{ui};
    TJUVDriverForm form{{commandLine, shell, processes, resources, files, fresh, devices, sync, store}};
    JUVDriverForm = &form;
    ui = FakeUserInterface{};
    files.nodes.clear();
    files.AddFile(L"C:\\Tools\\DARORED", {'x'});
    form.FormCreate();
    try {
        form.Timer1Timer();
    } catch (...) {
        ShowException(fresh, commandLine, std::current_exception());
    }
    result = fresh.Result();
    EXPECT_EQ(result.exitCode, 1603);
    EXPECT_EQ(result.line,
              L"FAILED!: Datei \"C:\\Tools\\DARORED\\wdi-simple.exe\" kann nicht erstellt werden. System text 3.");
    EXPECT_FALSE(AnyBoxOrDialog());
    EXPECT_TRUE(ui.quitPosted);
    EXPECT_EQ(files.Content(L"C:\\Tools\\DARORED")->size(), 1u); // nothing of the user's touched

    // A run that ends before its install does (nothing happened yet) never counts as done.
    SilentUserInterface unfinished{ui};
    EXPECT_EQ(unfinished.Result().exitCode, 1603);
    EXPECT_EQ(unfinished.Result().line, L"FAILED!: Ended before the install was finished");
}

TEST_F(SilentTest, WithoutRightsItEndsAtOnceAndRelaunchesNothing) {
    shell.admin = false;
    const std::optional<SilentResult> refusal = SilentStartRefusal(shell);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->exitCode, 740);
    EXPECT_EQ(refusal->line, L"FAILED!: Elevated priviliges required.");
    shell.admin = true;
    EXPECT_FALSE(SilentStartRefusal(shell));
    EXPECT_TRUE(processes.starts.empty());
}

TEST_F(SilentTest, OnlyAnInstallThatRunsNowSendsTheRunAwayWith1618) {
    // Owned for the whole sequence, tool runs included, and given back at its end.
    std::vector<int> ownedDuringRuns;
    processes.defaultBehaviour.effect = [this, &ownedDuringRuns] {
        files.AddDirectory(files.currentDirectory + L"\\usb_driver");
        ownedDuringRuns.push_back(sync.owned[InstallMutexName]);
    };
    // Its owner ended without giving it back: nothing of that install runs any more.
    sync.others[InstallMutexName] = FakeSync::Other::Abandoned;
    EXPECT_EQ(Run().exitCode, 0);
    EXPECT_EQ(ownedDuringRuns, (std::vector<int>{1, 1}));
    EXPECT_EQ(sync.owned[InstallMutexName], 0);
    EXPECT_EQ(sync.ownings, std::vector<std::wstring>{L"JUV-LibUSB-driver-install"});

    // Another installer changes the driver right now: come back later, having touched nothing.
    sync.others[InstallMutexName] = FakeSync::Other::Owns;
    SilentUserInterface fresh{ui};
    TJUVDriverForm form{{commandLine, shell, processes, resources, files, fresh, devices, sync, store}};
    JUVDriverForm = &form;
    ui = FakeUserInterface{};
    reports = FakeReports{};
    processes.starts.clear();
    form.FormCreate();
    form.Timer1Timer();
    ReportSilentResult(reports, fresh.Result());
    EXPECT_EQ(fresh.Result().exitCode, 1618);
    EXPECT_EQ(reports.console, std::vector<std::wstring>{L"FAILED!: Another installer instance is running"});
    EXPECT_EQ(reports.eventLog.at(0).first, true);
    EXPECT_TRUE(ui.quitPosted);
    EXPECT_TRUE(processes.starts.empty());
    EXPECT_EQ(ui.installRuns, 0);
    EXPECT_TRUE(processes.terminated.empty());

    // A technician is never turned away, and a mutex the system will not give stops nobody.
    for (const FakeSync::Other other : {FakeSync::Other::Owns, FakeSync::Other::Refuses}) {
        sync.others[InstallMutexName] = other;
        TJUVDriverForm watched{{commandLine, shell, processes, resources, files, ui, devices, sync, store}};
        JUVDriverForm = &watched;
        Parameters(L"");
        ui = FakeUserInterface{};
        processes.starts.clear();
        watched.FormCreate();
        watched.Timer1Timer();
        EXPECT_EQ(ui.label, L"DONE!");
        EXPECT_EQ(processes.starts.size(), 1u);
    }
}

// The entry's steps with the main window, on a system that may refuse the window or its timer.
class WindowSteps final : public MainWindowSteps {
public:
    explicit WindowSteps(std::wstring refusal = L"") : refusal_(std::move(refusal)) {}
    std::vector<std::wstring> steps;

    void Create() override {
        steps.push_back(L"create");
        if (!refusal_.empty()) throw Error(refusal_, 1816);
    }
    void RunCreateHandler() override { steps.push_back(L"handler"); }
    void RunMessageLoop() override { steps.push_back(L"loop"); }

private:
    std::wstring refusal_;
};

TEST_F(SilentTest, WindowOrTimerThatCannotBeMadeEndsTheRunWithTheReason) {
    WindowSteps made;
    RunMainWindow(made, silent, commandLine);
    EXPECT_EQ(made.steps, (std::vector<std::wstring>{L"create", L"handler", L"loop"}));

    // Silent: no loop that nothing would ever end, and the reason for the engine.
    const std::wstring reason = L"Cannot create the main window: Not enough quota is available to process this command.";
    WindowSteps refused(reason);
    SilentUserInterface fresh{ui};
    RunMainWindow(refused, fresh, commandLine);
    EXPECT_EQ(refused.steps, std::vector<std::wstring>{L"create"});
    ReportSilentResult(reports, fresh.Result());
    EXPECT_EQ(fresh.Result().exitCode, 1603);
    EXPECT_EQ(reports.console, std::vector<std::wstring>{L"FAILED!: " + reason});
    EXPECT_EQ(reports.eventLog, (std::vector<std::pair<bool, std::wstring>>{{true, L"FAILED!: " + reason}}));
    EXPECT_FALSE(AnyBoxOrDialog());

    // Watched: the default error display's box, then the end.
    WindowSteps noTimer(L"Cannot create the start timer: Quota exceeded");
    RunMainWindow(noTimer, ui, commandLine);
    EXPECT_EQ(noTimer.steps, std::vector<std::wstring>{L"create"});
    EXPECT_EQ(ui.events.back(), L"error box: Cannot create the start timer: Quota exceeded. | Zorodereridovudi");
}

} // namespace
} // namespace juv::test
