#pragma once

// Stateful stand-ins for the platform services: a command line, a clock you advance, a process
// table, a shell that records launches and can refuse, a payload, a file system with per-path
// errors, and a screen that records every text it was shown, in order.

#include "platform/ClockService.h"
#include "platform/CommandLineService.h"
#include "platform/DeviceService.h"
#include "platform/DriverStore.h"
#include "platform/FileSystem.h"
#include "platform/ProcessService.h"
#include "platform/ReportService.h"
#include "platform/ResourceService.h"
#include "platform/ShellService.h"
#include "platform/SyncService.h"
#include "platform/UserInterface.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace juv::test {

class FakeCommandLine final : public CommandLineService {
public:
    std::wstring commandLine = L"ZoroDerERIDovudi.exe";
    std::wstring modulePath = L"C:\\Tools\\ZoroDerERIDovudi.exe";
    mutable int reads = 0;

    std::wstring CommandLine() const override {
        ++reads;
        return commandLine;
    }
    std::wstring ModuleFileName() const override { return modulePath; }
};

class FakeClock final : public ClockService {
public:
    std::int64_t counter = 0;     // 0 or less: no usable counter
    std::int64_t counterStep = 0; // added after each reading
    std::int64_t frequency = 1000000;
    std::chrono::milliseconds timeOfDay{0};
    std::chrono::milliseconds timeOfDayStep{0}; // added after each reading
    int counterReads = 0;

    std::int64_t PerformanceCounter() override {
        ++counterReads;
        const std::int64_t value = counter;
        counter += counterStep;
        return value;
    }
    std::int64_t PerformanceFrequency() override { return frequency; }
    std::chrono::milliseconds LocalTimeOfDay() override {
        const auto value = timeOfDay;
        timeOfDay += timeOfDayStep;
        return value;
    }
};

// Counts how many objects of one kind are held, so tests see every handle closed exactly once.
struct HandleCount {
    int opened = 0;
    int closed = 0;
    int Open() const { return opened - closed; }
};

class CountedObject : public HeldObject {
public:
    explicit CountedObject(HandleCount& count) : count_(count) { ++count_.opened; }
    ~CountedObject() override { ++count_.closed; }

private:
    HandleCount& count_;
};

class FakeSync final : public SyncService {
public:
    bool refuse = false;
    std::vector<std::wstring> names;
    HandleCount handles;

    // Shared mutexes by name: how another process left each one; not listed is free.
    enum class Other { Owns, Abandoned, Refuses };
    std::map<std::wstring, Other> others;
    std::map<std::wstring, int> owned; // how many of ours are held now, per name
    std::vector<std::wstring> ownings; // every successful take, in order

    std::unique_ptr<HeldObject> CreateNamedMutex(const std::wstring& name) override;
    std::unique_ptr<HeldObject> OwnSharedMutex(const std::wstring& name, MutexOwnership& ownership) override;
};

// What a started program does: the tool, pnputil, a program the shell starts.
struct ToolBehaviour {
    bool refuse = false;       // it cannot be started
    bool hang = false;         // does not end within the wait
    bool waitFails = false;    // the wait itself fails
    std::optional<std::uint32_t> exitCode = 0; // empty: the code cannot be read
    std::function<void()> effect; // what the run does, e.g. create the driver folder
};

// Shorthands for the usual behaviours; effect is what the run does before it ends.
ToolBehaviour Refuses();
ToolBehaviour Hangs(std::function<void()> effect = {});
ToolBehaviour ExitsWith(std::optional<std::uint32_t> exitCode, std::function<void()> effect = {});
ToolBehaviour WaitFails();

// A running process in the fake table.
struct FakeProcess {
    std::uint32_t id = 0;
    std::wstring exeFile;
    bool openable = true;      // false: opening it fails, as for another user's process
    bool endsWhenKilled = true; // false: it survives TerminateProcess
    int restarts = 0;           // comes back under a new id this often after being ended
    std::optional<std::uint32_t> session = 1; // empty: the system does not say
    // Not empty: by the time it is opened the id belongs to this program, the full path of its
    // image, as when the process ended and Windows gave its id to another.
    std::wstring imageAfterOpen;
    bool imageUnreadable = false; // its handle does not tell what it runs
};

class FakeProcesses final : public ProcessService {
public:
    std::vector<FakeProcess> table;
    bool toolHelpMissing = false;
    int throwAfterEntries = -1; // the snapshot throws when asked for more than this many entries
    std::uint32_t ownId = 4242;
    std::optional<std::uint32_t> ownSession = 1;
    std::uint32_t nextId = 9000;
    HandleCount snapshots;
    HandleCount processHandles;
    std::vector<std::uint32_t> terminated;
    std::vector<std::chrono::milliseconds> waits;
    int sleeps = 0;
    // Programs started, in order, each behaving as the next of behaviours, or as the default.
    struct Start {
        std::wstring path;
        std::wstring parameters;
        StartWindow window;
        std::wstring folder; // the current folder it was started in
        StartEnvironment environment;
        std::optional<FileId> image; // the file it may only be started from
    };
    std::optional<FileId> startedImage; // what the system starts instead, when not the file named
    const std::wstring* currentFolder = nullptr; // where the current folder is kept
    std::vector<Start> starts;
    std::deque<ToolBehaviour> behaviours;
    ToolBehaviour defaultBehaviour;
    std::vector<std::chrono::milliseconds> runWaits; // every wait for a started program
    HandleCount runHandles;
    std::chrono::milliseconds slept{0};
    std::vector<std::chrono::milliseconds> startTimes; // of each started program, in time slept

    FakeProcess& Add(std::uint32_t id, std::wstring exeFile);
    bool Running(std::uint32_t id) const;
    void End(std::uint32_t id);

    std::unique_ptr<ProcessSnapshot> TakeSnapshot() override;
    std::unique_ptr<ProcessObject> OpenForTermination(std::uint32_t processId) override;
    std::unique_ptr<ProcessObject> StartProgram(const std::wstring& path, const std::wstring& parameters,
                                                StartWindow window, StartEnvironment environment,
                                                const FileId* image) override;
    void Sleep(std::chrono::milliseconds duration) override {
        ++sleeps;
        slept += duration;
    }
    std::uint32_t CurrentProcessId() override { return ownId; }
    std::optional<std::uint32_t> CurrentSessionId() override { return ownSession; }
};

class FakeShell final : public ShellService {
public:
    bool admin = true;
    int adminQueries = 0;
    std::deque<ToolBehaviour> behaviours; // one per launch; when empty, the default below
    ToolBehaviour defaultBehaviour;
    std::vector<ShellExecuteRequest> launches;
    std::vector<std::chrono::milliseconds> waits;
    HandleCount processHandles;

    bool IsUserAnAdmin() override {
        ++adminQueries;
        return admin;
    }
    ShellExecuteResult Execute(const ShellExecuteRequest& request) override;
};

class FakeResources final : public ResourceService {
public:
    std::optional<std::vector<std::uint8_t>> payload = std::vector<std::uint8_t>{'M', 'Z', 1, 2, 3};
    bool throwOnFind = false;
    HandleCount handles;
    std::vector<std::wstring> requested;

    std::unique_ptr<Resource> FindRcData(const std::wstring& name) override;
};

// A file system of absolute Windows paths. Folders are remembered without their trailing
// backslash; a file or folder can only be made where its parent folder exists. The program
// reaches inside a held folder by names relative to it; the path operations below are what those
// do, and what another program of the user's can do by path.
class FakeFileSystem final : public FileSystem {
public:
    struct Node {
        bool directory = false;
        std::vector<std::uint8_t> content;
        bool link = false;
        std::uint32_t linkTargetError = 0; // what opening the link's target gives
        bool lockedExclusively = false;    // another process holds it without sharing
        int holds = 0;                     // held by the program: nobody may change it
        bool heldByAnother = false;        // another program holds it and does not let it be moved
        FolderSecurity security;           // of a folder; as the program makes its own
        std::uint64_t id = 0;              // given when first asked for; it moves with the node
    };

    std::map<std::wstring, Node> nodes;
    std::map<std::wstring, std::uint32_t> attributeErrors; // GetAttributes fails with this code
    std::map<std::wstring, bool> searchFinds;              // what a directory search reports
    std::map<std::wstring, std::uint32_t> createDirectoryErrors;
    std::map<std::wstring, std::uint32_t> setCurrentDirectoryErrors;
    std::map<std::wstring, std::uint32_t> listErrors;
    std::map<std::wstring, std::uint32_t> createFileErrors;
    std::map<std::wstring, std::uint32_t> replaceErrors;
    std::map<std::wstring, std::uint32_t> readSecurityErrors;
    std::map<std::wstring, std::uint32_t> renameErrors;
    // What the volume of each path keeps, by the longest folder that begins it; others keep
    // access lists and are local.
    std::map<std::wstring, VolumeTraits> volumes;
    // Where a folder held by its path really is, when a link on the way leads elsewhere.
    std::map<std::wstring, std::wstring> finalPaths;
    // What a path opens when the system opens it by name, where that is not the node of the name.
    std::map<std::wstring, std::wstring> nameOpens;
    std::function<void()> onJudge; // runs whenever a held folder's access list is read
    std::wstring programFiles = L"C:\\Program Files (x86)";
    std::optional<std::size_t> writeLimit; // a write stops after this many bytes
    HandleCount heldFiles;
    HandleCount heldFolders;
    std::wstring currentDirectory = L"C:\\Users\\tech";
    std::vector<std::wstring> log; // every changing call, in order
    int openFiles = 0;

    static std::wstring Key(std::wstring path);
    void AddDirectory(const std::wstring& path);
    void AddFile(const std::wstring& path, std::vector<std::uint8_t> content = {});
    bool IsDirectory(const std::wstring& path) const;
    bool IsFile(const std::wstring& path) const;
    const std::vector<std::uint8_t>* Content(const std::wstring& path) const;
    std::vector<std::wstring> FilesIn(const std::wstring& folder) const;
    FileId IdOf(const std::wstring& key);

    FileAttributes GetAttributes(const std::wstring& path) override;
    std::uint32_t OpenLinkTarget(const std::wstring& path, bool directory) override;
    bool SearchFindsFile(const std::wstring& path) override;
    std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path, std::uint32_t& error) override;
    std::wstring FullPathName(const std::wstring& path) override;
    std::uint32_t FileIdAt(const std::wstring& path, FileId& id) override;
    std::wstring ProgramFilesFolder() override { return programFiles; }
    std::uint32_t ChangeDirectory(const std::wstring& path) override;
    std::wstring CurrentDirectory() override { return currentDirectory; }
    std::wstring ErrorText(std::uint32_t code) override;

    // By path, as the held folders do them by name.
    std::unique_ptr<HeldFolder> MakeHeldFolder(const std::wstring& path, std::uint32_t& error);
    std::unique_ptr<HeldFolder> OpenHeldFolder(const std::wstring& path, std::uint32_t& error);
    std::uint32_t ListFolder(const std::wstring& path, std::vector<std::wstring>& names);
    std::unique_ptr<HeldFile> HoldFile(const std::wstring& path, std::uint32_t& error);
    std::unique_ptr<OutputFile> CreateOutputFile(const std::wstring& path, std::uint32_t& error);
    std::uint32_t MoveOver(const std::wstring& from, const std::wstring& to);
    std::uint32_t Rename(const std::wstring& from, const std::wstring& to);
    std::uint32_t RemoveFile(const std::wstring& path);

    // What a folder of the program's own has: the administrators own it, nobody else may change it.
    static FolderSecurity AdministratorsOwn();
    VolumeTraits VolumeOf(const std::wstring& key) const;

private:
    bool ParentExists(const std::wstring& key) const;
    std::uint32_t HoldError(const std::wstring& key, bool directory) const;
    std::uint64_t lastId_ = 0;
};

// What Windows reports of its present devices, one answer per look; the last answer stays.
class FakeDevices final : public DeviceService {
public:
    using Answer = std::optional<std::vector<PresentDevice>>;
    std::deque<Answer> answers{Answer{std::vector<PresentDevice>{}}}; // nothing connected
    int looks = 0;

    std::optional<std::vector<PresentDevice>> PresentDevices() override {
        ++looks;
        const Answer answer = answers.front();
        if (answers.size() > 1) answers.pop_front();
        return answer;
    }

    // Every node Windows keeps, present or not.
    std::optional<std::vector<PresentDevice>> known = std::vector<PresentDevice>{};
    std::optional<std::vector<PresentDevice>> KnownDevices() override { return known; }

    int busyFor = 0; // Windows installs devices of its own until asked this many more times
    bool InstallsPending() override { return busyFor > 0 && busyFor-- > 0; }
};

// The driver store as a set of published packages, and pnputil as a program that does what it
// is asked, to the packages and to the devices' nodes, unless told to fail.
class FakeDriverStore final : public DriverStore {
public:
    explicit FakeDriverStore(FakeDevices& devices) : devices_(devices) {}

    std::map<std::wstring, std::vector<PackageModel>> packages; // their models by their INF's name
    bool unreadable = false;
    // A pnputil of Windows 10 2004 or later; older ones lack one command or both.
    std::optional<std::wstring> usage =
        L"PNPUTIL [/add-driver ...] [/delete-driver <oem#.inf>] [/enum-drivers] [/remove-device <instance ID>]";
    ToolBehaviour behaviour;       // of every run; its exit code 0 or 3010 does what was asked
    bool changesNothing = false;   // ends as told, but leaves everything as it was
    std::vector<std::wstring> runs; // the arguments of each run, in order
    std::vector<StartEnvironment> runEnvironments; // the environment of each run, in order
    std::vector<std::chrono::milliseconds> waits;
    int usageQueries = 0;
    HandleCount processHandles;

    std::optional<std::vector<DriverPackage>> PackagesListing(const std::vector<std::wstring>& hardwareIds) override;
    std::optional<std::wstring> PnpUtilUsage() override {
        ++usageQueries;
        return usage;
    }
    std::unique_ptr<ProcessObject> StartPnpUtil(const std::wstring& arguments, StartEnvironment environment) override;

private:
    FakeDevices& devices_;
};

// The console and the event log as lists of what was written to them.
class FakeReports final : public ReportService {
public:
    std::vector<std::wstring> console;
    std::vector<std::pair<bool, std::wstring>> eventLog; // error or not, and the text

    void ToConsole(const std::wstring& line) override { console.push_back(line); }
    void ToEventLog(bool error, const std::wstring& line) override { eventLog.emplace_back(error, line); }
};

// The main window as a record of what it was asked to show and do.
class FakeUserInterface final : public UserInterface {
public:
    std::wstring label = L"Initializing...";
    std::wstring status = L"TEST";
    bool buttonEnabled = true;
    std::wstring buttonText = L" Install Driver for JUV or QX4530";
    bool timerRunning = true;
    bool closed = false;
    bool quitPosted = false;
    bool installing = false;
    int installRuns = 0; // how often installing was switched on
    TaskbarProgress progress = TaskbarProgress::None;
    WindowId window = 0x1234;
    std::vector<std::wstring> labels;   // every label text set, in order
    std::vector<std::wstring> statuses; // every status text set, in order
    std::vector<std::wstring> events;   // everything, in order, e.g. "label: DONE!"
    std::function<void()> onDialog;     // runs while a modal box is up
    bool goOnBesideAnotherInstall = true;

    void SetLabelText(const std::wstring& text) override;
    std::wstring StatusText() override { return status; }
    void SetStatusText(const std::wstring& text) override;
    void EnableButton(bool enabled) override;
    void SetButtonText(const std::wstring& text) override;
    void StopTimer() override;
    void SetInstalling(bool on) override;
    void SetProgress(TaskbarProgress state) override;
    bool GoOnBesideAnotherInstall() override;
    void InstallFinished(InstallVerdict verdict, const std::wstring& reason) override;
    void CloseMainWindow() override;
    void PostQuit() override;
    WindowId MainWindow() override { return window; }
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;
    void ShowMessageDialog(const std::wstring& text, const std::wstring& caption) override;
    std::wstring LowerCase(const std::wstring& text) override;
};

} // namespace juv::test
