#include "app/ErrorDisplay.h"
#include "tests/app/FormFixture.h"

#include <stdexcept>

namespace juv::test {
namespace {

TEST_F(FormTest, FieldsStartCleared) {
    EXPECT_FALSE(form.vizavuRunning);
    EXPECT_EQ(form.vizAvuPID, 0u);
}

TEST_F(FormTest, PayloadSizeGoesIntoTheStatusLineInWholeKilobytesHalvesUp) {
    const std::pair<std::size_t, const wchar_t*> cases[] = {{511, L"TEST wdi-simple 0 KB"},
                                                             {512, L"TEST wdi-simple 1 KB"},
                                                             {1535, L"TEST wdi-simple 1 KB"},
                                                             {1536, L"TEST wdi-simple 2 KB"},
                                                             {982306, L"TEST wdi-simple 959 KB"},
                                                             {0, L"TEST wdi-simple 0 KB"}};
    for (const auto& [size, expected] : cases) {
        ui.status = L"TEST";
        resources.payload = Bytes(size);
        form.FormCreate();
        EXPECT_EQ(ui.status, expected) << size;
    }
    EXPECT_EQ(resources.handles.Open(), 0);
}

TEST_F(FormTest, MissingOrBrokenPayloadLeavesTheStatusLineAndTheRestRuns) {
    for (const bool broken : {false, true}) {
        resources.payload.reset();
        resources.throwOnFind = broken;
        shell.admin = false;
        ui = FakeUserInterface{};
        form.FormCreate();
        EXPECT_EQ(ui.status, L"TEST");
        EXPECT_EQ(ui.label, L"Elevated priviliges required.");
        EXPECT_TRUE(ui.buttonEnabled);
        EXPECT_TRUE(std::none_of(ui.events.begin(), ui.events.end(),
                                 [](const std::wstring& e) { return e.rfind(L"error box", 0) == 0; }));
    }
}

TEST_F(FormTest, ElevatedWithoutServerKeepsTheLabelAndDisablesTheButton) {
    shell.admin = true;
    form.FormCreate();
    EXPECT_EQ(ui.label, L"Initializing...");
    EXPECT_TRUE(ui.labels.empty());
    EXPECT_FALSE(ui.buttonEnabled);
}

TEST_F(FormTest, UnelevatedWithoutServerAsksForElevationAndKeepsTheButton) {
    shell.admin = false;
    form.FormCreate();
    EXPECT_EQ(ui.label, L"Elevated priviliges required.");
    EXPECT_TRUE(ui.buttonEnabled);
}

TEST_F(FormTest, RunningServerTextWinsElevatedOrNot) {
    for (const bool admin : {true, false}) {
        processes.table.clear();
        processes.Add(7, L"vizavu.exe");
        shell.admin = admin;
        ui = FakeUserInterface{};
        form.FormCreate();
        EXPECT_EQ(ui.label, L"Please close JUV USB to TCP Server (VIZAVU.exe) first!");
        EXPECT_EQ(ui.buttonEnabled, !admin);
        EXPECT_TRUE(form.vizavuRunning);
        EXPECT_EQ(form.vizAvuPID, 7u);
    }
}

// ---- the scan ------------------------------------------------------------------------------

TEST_F(FormTest, ScanMatchesTheImageNameInAnyAsciiCaseOnly) {
    for (const wchar_t* name : {L"VIZAVU.EXE", L"vizavu.exe", L"VizAvu.Exe"}) {
        processes.table.clear();
        processes.Add(1, L"explorer.exe");
        processes.Add(2, name);
        form.vizavuRunning = false;
        FindServerProcess(processes);
        EXPECT_TRUE(form.vizavuRunning) << name;
    }
    for (const wchar_t* name : {L"C:\\Tools\\VIZAVU.EXE", L"VIZAVU.EXE ", L"VIZAVU.EX", L"XVIZAVU.EXE", L"VIZAVU",
                                L"V\u0130ZAVU.EXE", L"vizavu.exe.lnk", L""}) {
        processes.table.clear();
        processes.Add(1, L"explorer.exe");
        processes.Add(2, name);
        form.vizavuRunning = false;
        FindServerProcess(processes);
        EXPECT_FALSE(form.vizavuRunning) << name;
    }
    EXPECT_EQ(processes.snapshots.Open(), 0);
}

TEST_F(FormTest, ScanComparesTheFirstEntryToo) {
    processes.Add(4, L"VIZAVU.EXE");
    processes.Add(5, L"svchost.exe");
    FindServerProcess(processes);
    EXPECT_TRUE(form.vizavuRunning);
    EXPECT_EQ(form.vizAvuPID, 4u);
}

TEST_F(FormTest, ScanLetsTheLastServerWinAndNeverClearsAnything) {
    processes.Add(11, L"VIZAVU.EXE");
    processes.Add(12, L"notepad.exe");
    processes.Add(13, L"vizavu.exe");
    FindServerProcess(processes);
    EXPECT_EQ(form.vizAvuPID, 13u);

    processes.table.clear();
    form.vizavuRunning = true;
    FindServerProcess(processes);
    EXPECT_TRUE(form.vizavuRunning); // only the caller clears the flag
    form.vizavuRunning = false;
    FindServerProcess(processes);
    EXPECT_FALSE(form.vizavuRunning);
    EXPECT_EQ(form.vizAvuPID, 13u);
}

TEST_F(FormTest, ScanFindsNothingWithoutToolHelp) {
    processes.Add(4, L"VIZAVU.EXE");
    processes.toolHelpMissing = true;
    FindServerProcess(processes);
    EXPECT_FALSE(form.vizavuRunning);
}

TEST_F(FormTest, SnapshotIsClosedWhenTheScanFails) {
    processes.Add(4, L"VIZAVU.EXE");
    processes.Add(5, L"a.exe");
    processes.throwAfterEntries = 1;
    EXPECT_THROW(FindServerProcess(processes), std::runtime_error);
    EXPECT_EQ(processes.snapshots.opened, 1);
    EXPECT_EQ(processes.snapshots.closed, 1);
}

TEST_F(FormTest, ErrorInTheScanLeavesCreationAfterTheAdministratorTest) {
    // What the window does with an escaping error is the default display; here the handler
    // itself must let the error out after the probe and the administrator test.
    processes.throwAfterEntries = 0;
    shell.admin = false;
    Parameters(L"/AUTO");
    EXPECT_THROW(form.FormCreate(), std::runtime_error);
    EXPECT_EQ(ui.label, L"Elevated priviliges required.");
    EXPECT_EQ(processes.snapshots.Open(), 0);
}

// ---- the start tick ------------------------------------------------------------------------

TEST_F(FormTest, TickStopsTheTimerFirstAndOnlyAnAdministratorInstalls) {
    shell.admin = false;
    form.Timer1Timer();
    EXPECT_EQ(ui.events, std::vector<std::wstring>{L"timer: stopped"});
    EXPECT_TRUE(shell.launches.empty());
    EXPECT_TRUE(files.log.empty());
}

TEST_F(FormTest, TickStopsTheTimerEvenWhenTheSequenceFails) {
    resources.payload.reset();
    shell.admin = true;
    EXPECT_ANY_THROW(form.Timer1Timer());
    ASSERT_FALSE(ui.events.empty());
    EXPECT_EQ(ui.events.front(), L"timer: stopped");
    EXPECT_FALSE(ui.timerRunning);
}

// ---- the default error display -------------------------------------------------------------

TEST(ErrorDisplay, AddsAFullStopOnlyAfterCharactersAboveIt) {
    EXPECT_EQ(ErrorBoxText(L"Access denied"), L"Access denied.");
    EXPECT_EQ(ErrorBoxText(L"Cannot kill VIZAVU PID 42"), L"Cannot kill VIZAVU PID 42.");
    EXPECT_EQ(ErrorBoxText(L"Wait Timeout!"), L"Wait Timeout!");
    EXPECT_EQ(ErrorBoxText(L"Done."), L"Done.");
    EXPECT_EQ(ErrorBoxText(L"(see log)"), L"(see log)");
    EXPECT_EQ(ErrorBoxText(L"trailing "), L"trailing ");
    EXPECT_EQ(ErrorBoxText(L"path/"), L"path/.");
    EXPECT_EQ(ErrorBoxText(L""), L"");
}

TEST(ErrorDisplay, TitleIsTheFileNameUpToItsFirstDotLowerCasedAfterTheFirstLetter) {
    FakeUserInterface ui;
    EXPECT_EQ(ApplicationTitle(L"C:\\Tools\\ZoroDerERIDovudi.exe", ui), L"Zorodereridovudi");
    EXPECT_EQ(ApplicationTitle(L"C:\\Tools\\Setup.Driver.exe", ui), L"Setup");
    EXPECT_EQ(ApplicationTitle(L"D:setup.exe", ui), L"setup");
    EXPECT_EQ(ApplicationTitle(L"C:\\Pr\u00fcf.d\\\u00c4BC.exe", ui), L"\u00c4bc");
    EXPECT_EQ(ApplicationTitle(L"C:\\x\\.hidden.exe", ui), L"");
}

TEST(ErrorDisplay, ShowsTheMessageInAnErrorBoxWithTheTitle) {
    FakeUserInterface ui;
    FakeCommandLine commandLine;
    commandLine.modulePath = L"C:\\Tools\\Setup.Driver.exe";
    ShowException(ui, commandLine, std::make_exception_ptr(Error(L"Ressource WDISIMPLE nicht gefunden")));
    ShowException(ui, commandLine, std::make_exception_ptr(std::runtime_error("bad thing")));
    ShowException(ui, commandLine, std::make_exception_ptr(42));
    // The taskbar button turns to the error state as the box comes up.
    EXPECT_EQ(ui.events, (std::vector<std::wstring>{L"progress: error",
                                                    L"error box: Ressource WDISIMPLE nicht gefunden. | Setup",
                                                    L"progress: error", L"error box: bad thing. | Setup",
                                                    L"progress: error", L"error box: Unknown error. | Setup"}));
}

// ---- the relaunch --------------------------------------------------------------------------

TEST_F(FormTest, ButtonRelaunchesThroughRunasAndEndsThisInstance) {
    shell.admin = false;
    form.FormCreate();
    form.Button1Click();
    ASSERT_EQ(shell.launches.size(), 1u);
    const ShellExecuteRequest& r = shell.launches[0];
    EXPECT_EQ(r.mask, 0x500u);
    EXPECT_EQ(r.window, ui.window);
    EXPECT_EQ(r.verb, L"runas");
    EXPECT_EQ(r.file, L"C:\\Tools\\ZoroDerERIDovudi.exe");
    EXPECT_FALSE(r.parameters.has_value()); // a null pointer, not an empty text
    EXPECT_EQ(r.show, 1);
    EXPECT_TRUE(ui.quitPosted);
}

TEST_F(FormTest, RelaunchPassesOnlyTheAutoSwitchAndInItsOwnSpelling) {
    shell.admin = false;
    Parameters(L"/x=1 -auto \"other thing\"");
    form.FormCreate();
    form.Button1Click();
    ASSERT_EQ(shell.launches.size(), 1u);
    EXPECT_EQ(shell.launches[0].parameters, std::optional<std::wstring>(L"/AUTO"));
}

TEST_F(FormTest, RelaunchReadsTheSwitchAsItWasAtCreation) {
    shell.admin = false;
    form.FormCreate();
    Parameters(L"/AUTO"); // too late: creation saw no switch
    form.Button1Click();
    EXPECT_FALSE(shell.launches.at(0).parameters.has_value());
}

TEST_F(FormTest, RefusedRelaunchSaysSoAndCanBeTriedAgain) {
    shell.admin = false;
    form.FormCreate();
    shell.behaviours.push_back(Refuses());
    form.Button1Click();
    EXPECT_EQ(ui.status, L"Unable to elevate Priviliges!");
    EXPECT_FALSE(ui.quitPosted);
    EXPECT_TRUE(ui.buttonEnabled);
    form.Button1Click();
    EXPECT_EQ(shell.launches.size(), 2u);
    EXPECT_TRUE(ui.quitPosted);
}

TEST_F(FormTest, AnAdministratorDoesNotRelaunch) {
    shell.admin = true;
    form.Button1Click();
    EXPECT_TRUE(shell.launches.empty());
    EXPECT_FALSE(ui.quitPosted);
}

} // namespace
} // namespace juv::test
