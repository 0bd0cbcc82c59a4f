#include "app/InstDriverForm.h"

#include "app/Decimal.h"
#include "app/DriverRemoval.h"
#include "app/ErrorDisplay.h"
#include "app/FileTests.h"
#include "app/ToolFolder.h"
#include "errlog32/CommandLine.h"
#include "platform/Error.h"
#include "platform/ScopeExit.h"
#include "platform/SystemErrors.h"

#include <chrono>
#include <string_view>
#include <vector>

namespace juv {

TJUVDriverForm* JUVDriverForm = nullptr;

namespace {

using namespace std::chrono_literals;

constexpr wchar_t PayloadName[] = L"WDISIMPLE";
constexpr wchar_t ServerImageName[] = L"VIZAVU.EXE";
constexpr wchar_t AutoSwitch[] = L"/AUTO";

// The tool's two runs: the first prepares the driver folder and installs the generic package
// (--wcid), the second installs the driver for the device. Both are passed exactly so, blanks
// included.
constexpr wchar_t FirstCommandLine[] =
    L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer "
    L"\"Quellbrand Industrie-Elektronik oHG\" --type 1  --wcid";
constexpr wchar_t SecondCommandLine[] =
    L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer "
    L"\"Quellbrand Industrie-Elektronik oHG\" --type 1 ";

// Whether a command line gives the option the value, in quotes.
constexpr bool Gives(std::wstring_view line, std::wstring_view option, std::wstring_view value) {
    const std::size_t at = line.find(option);
    return at != std::wstring_view::npos && line.substr(at + option.size()).starts_with(L" \"") &&
           line.substr(at + option.size() + 2).starts_with(value) &&
           line.substr(at + option.size() + 2 + value.size()).starts_with(L'"');
}
// The removal knows the generic package by the names the first run gives it.
static_assert(Gives(FirstCommandLine, L"--name", DeviceName) &&
              Gives(FirstCommandLine, L"--manufacturer", ManufacturerName));

// A server that survives this many passes of the stop loop is reported instead of being
// retried for ever with the window frozen.
constexpr int MaxKillPasses = 20;

// An install takes as long as Windows needs, minutes while it sets up a device of its own: a
// tool run is given this long before it counts as hung.
constexpr std::chrono::minutes ToolRunLimit{10};
// The tool's code for "another driver installation is pending", -9: Windows was installing a
// device when the tool asked it.
constexpr std::uint32_t InstallationPending = 0xFFFFFFF7;

// The meanings the driver-installer library gives its result codes.
const wchar_t* ToolCodeMeaning(std::int32_t code) {
    switch (code) {
    case -1: return L"input/output error";
    case -2: return L"invalid parameter";
    case -3: return L"access denied";
    case -4: return L"device not found";
    case -5: return L"not found";
    case -6: return L"busy";
    case -7: return L"timed out";
    case -8: return L"overflow";
    case -9: return L"another driver installation is pending";
    case -10: return L"interrupted";
    case -11: return L"out of resources";
    case -12: return L"not supported on this system";
    case -13: return L"already exists";
    case -14: return L"cancelled by the user";
    case -15: return L"administrator rights required";
    case -16: return L"32-bit tool on 64-bit Windows";
    case -17: return L"bad INF file";
    case -18: return L"catalog file missing";
    case -19: return L"unsigned drivers blocked by system policy";
    case -99: return L"other error";
    default: return nullptr;
    }
}

// A system error code or process id as the messages show them, as a signed 32-bit number.
std::wstring SignedDecimal(std::uint32_t value) { return Decimal(static_cast<std::int32_t>(value)); }

// The folder part of a path, up to and including its last '\' or ':'.
std::wstring ExtractFilePath(const std::wstring& path) {
    const std::size_t end = path.find_last_of(L"\\:");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

// The system's text without the trailing blanks, line breaks and full stops it comes with.
std::wstring TrimErrorText(std::wstring text) {
    while (!text.empty() &&
           (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n' || text.back() == L'.'))
        text.pop_back();
    return text;
}

} // namespace

std::wstring InOutErrorMessage(std::uint32_t code, const std::wstring& path) {
    switch (code) {
    case 2: return L"Die angegebene Datei wurde nicht gefunden";
    case 3: return L"Ung\u00fcltiger Dateiname - " + path;
    case 4: return L"Zu viele ge\u00f6ffnete Dateien";
    case 5: return L"Dateizugriff verweigert";
    case 100: return L"Versuch hinter dem Dateiende zu lesen";
    case 101: return L"Zu wenig Speicherplatz";
    case 106: return L"Ung\u00fcltige numerische Eingabe";
    default: return L"E/A-Fehler " + SignedDecimal(code);
    }
}

namespace {

bool IsServerImage(std::wstring name) {
    UpCaseAscii(name);
    return name == ServerImageName;
}

// The snapshot's entries that name the server, in the snapshot's order.
std::vector<ProcessEntry> ServerEntries(ProcessService& processes) {
    std::vector<ProcessEntry> servers;
    // The snapshot object closes itself on every path out of here, a throwing scan included.
    const std::unique_ptr<ProcessSnapshot> snapshot = processes.TakeSnapshot();
    if (!snapshot) return servers;
    ProcessEntry entry;
    for (bool more = snapshot->First(entry); more; more = snapshot->Next(entry))
        if (IsServerImage(entry.exeFile)) servers.push_back(entry);
    return servers;
}

} // namespace

void FindServerProcess(ProcessService& processes) {
    TJUVDriverForm* const form = JUVDriverForm;
    if (form == nullptr) return;
    for (const ProcessEntry& server : ServerEntries(processes)) {
        form->vizavuRunning = true;
        form->vizAvuPID = server.processId;
    }
}

TJUVDriverForm::TJUVDriverForm(const FormServices& services) : s_(services) {}

void TJUVDriverForm::FormCreate() {
    if (Removing()) s_.ui.SetButtonText(L" Remove Driver for JUV or QX4530");
    ProbePayload();

    if (s_.shell.IsUserAnAdmin())
        s_.ui.EnableButton(false);
    else
        s_.ui.SetLabelText(L"Elevated priviliges required.");

    vizavuRunning = false;
    FindServerProcess(s_.processes);
    if (vizavuRunning) s_.ui.SetLabelText(L"Please close JUV USB to TCP Server (VIZAVU.exe) first!");

    isAuto = Unattended();
}

bool TJUVDriverForm::Removing() const { return CmdParamPresent(s_.commandLine, UninstallSwitch); }

bool TJUVDriverForm::Unattended() const {
    // A silent run is an unattended one that nobody even sees.
    return CmdParamPresent(s_.commandLine, AutoSwitch) || CmdParamPresent(s_.commandLine, SilentSwitch);
}

void TJUVDriverForm::ProbePayload() {
    // The size in the status line is information only: whatever goes wrong here must not keep
    // the window from coming up, so every failure is swallowed and the line keeps its text.
    try {
        const std::unique_ptr<Resource> payload = s_.resources.FindRcData(PayloadName);
        if (!payload) return;
        const std::int64_t size = static_cast<std::int64_t>(payload->Bytes().size());
        const std::int64_t kilobytes = (size + 512) / 1024;
        s_.ui.SetStatusText(s_.ui.StatusText() + L" wdi-simple " + Decimal(kilobytes) + L" KB");
    } catch (...) {
    }
}

void TJUVDriverForm::Timer1Timer() {
    // Stopped first, so that nothing inside the sequence can bring a second tick.
    s_.ui.StopTimer();
    // A tick that someone else posts while the sequence waits starts nothing, nor one that comes
    // after a run left at work.
    if (installing_ || runLeftRunning_ || !s_.shell.IsUserAnAdmin()) return;
    // The one place that chooses the work; each sequence is the whole of its kind.
    RunSequence(Removing() ? &TJUVDriverForm::RemoveDriver : &TJUVDriverForm::InstallDriver);
}

void TJUVDriverForm::RunSequence(void (TJUVDriverForm::*sequence)()) {
    MutexOwnership ownership = MutexOwnership::Unavailable;
    // Given back after the window takes input again, on every path out of here; but after a run
    // that was still at work when its wait ended, only when the program ends, so that no second
    // installer starts beside it.
    std::unique_ptr<HeldObject> owned = s_.sync.OwnSharedMutex(InstallMutexName, ownership);
    const ScopeExit keep([&] {
        if (runLeftRunning_) keptOwnership_ = std::move(owned);
    });
    // A mutex the system will not give says nothing about another install: the sequence runs.
    if (ownership == MutexOwnership::OwnedElsewhere && !s_.ui.GoOnBesideAnotherInstall()) return;
    installing_ = true;
    s_.ui.SetInstalling(true);
    const ScopeExit installed([this] {
        installing_ = false;
        s_.ui.SetInstalling(false);
    });
    (this->*sequence)();
}

void TJUVDriverForm::Button1Click() {
    if (installing_) return;
    ElevateSelf();
}

void TJUVDriverForm::InstallDriver() {
    KillServer();

    const std::wstring exeFolder = AddBackslash(ExtractFilePath(CommandLineParams(s_.commandLine).Param(0)));

    s_.ui.SetStatusText(L"Install...");

    // Both held to the end of the sequence and released on every path out of it: the payload,
    // and the folder with the tool that runs from it. Every path below is the folder's own.
    std::unique_ptr<Resource> payload;
    ToolFolder folder(s_.files, exeFolder);
    // Windows keeps a process's current folder open: given back when the sequence ends, so that
    // a window left open keeps nobody from moving or removing the install folder.
    const std::wstring previousDirectory = s_.files.CurrentDirectory();
    const ScopeExit restoreDirectory([&] {
        if (!previousDirectory.empty()) s_.files.ChangeDirectory(previousDirectory);
    });
    ProvideTool(folder, payload);

    if (const std::uint32_t error = s_.files.ChangeDirectory(folder.Path()))
        throw Error(InOutErrorMessage(error, folder.Path()), error);

    std::optional<std::wstring> failure;
    if (!folder.DriverFolderPresent()) {
        s_.ui.SetLabelText(L"Creating driver");
        CheckToolFolder(folder);
        // Whatever else this run reports, the driver folder it leaves is what counts. A run still
        // at work is followed by none: the next would install beside it.
        const RunOutcome created = ExecuteTool(folder, FirstCommandLine);
        if (created.kind == RunOutcome::Kind::TimedOut) failure = FailureReason(created);
    }

    if (!failure && !folder.DriverFolderPresent()) failure = L"Driver folder missing";
    if (!failure) {
        s_.ui.SetLabelText(L"Installing driver");
        CheckToolFolder(folder);
        RunOutcome installed = ExecuteTool(folder, SecondCommandLine);
        // Windows began to install a device between its last answer and the tool's question (the
        // device itself, plugged in a moment ago, say): once it has finished, one more try.
        if (installed.kind == RunOutcome::Kind::Ended && installed.exitCode == InstallationPending) {
            CheckToolFolder(folder);
            installed = ExecuteTool(folder, SecondCommandLine);
        }
        failure = FailureReason(installed);
    }

    // The tool exits with 0 also when it only prepared the driver for a device that is not
    // there, or when the device stayed on another driver: Windows has the last word.
    ShowVerdict(failure ? DeviceVerdict{false, *failure} : AskTheDevice(s_.devices, s_.processes));
}

void TJUVDriverForm::RemoveDriver() {
    KillServer();
    s_.ui.SetLabelText(L"Removing driver");
    ShowVerdict(DriverRemoval(s_.store, s_.devices, s_.processes, s_.ui).Run());
}

void TJUVDriverForm::ShowVerdict(const DeviceVerdict& verdict) {
    if (!verdict.done) {
        // The window stays open, /AUTO or not, so the technician sees what went wrong.
        s_.ui.SetLabelText(L"FAILED!");
        s_.ui.SetStatusText(verdict.status);
        s_.ui.InstallFinished(InstallVerdict::Failed, verdict.status);
        return;
    }

    s_.ui.SetLabelText(L"DONE!");
    s_.ui.SetStatusText(verdict.status);
    s_.ui.InstallFinished(verdict.restartNeeded ? InstallVerdict::RestartNeeded : InstallVerdict::Done,
                          verdict.status);
    // The command line is asked again rather than trusting what creation saw.
    if (Unattended()) s_.ui.CloseMainWindow();
}

void TJUVDriverForm::KillServer() {
    const std::optional<std::uint32_t> ownSession = s_.processes.CurrentSessionId();
    // The last pass only looks: a server that is still there then is reported.
    for (int pass = 0; pass <= MaxKillPasses; ++pass) {
        bool serverLeft = false;
        for (const ProcessEntry& entry : ServerEntries(s_.processes)) {
            // Only a process whose handle shows the server is ended: between the snapshot and the
            // open its id may have gone to another program, which is none of the installer's.
            const std::unique_ptr<ProcessObject> server = s_.processes.OpenForTermination(entry.processId);
            const std::wstring image = server ? server->ImageName() : std::wstring();
            if (!image.empty() && !IsServerImage(image.substr(image.find_last_of(L"\\/:") + 1))) continue;
            // A server of another session the installer cannot even open is another user's: it
            // serves that user's session and is left to them. In ours, or where the sessions
            // cannot be told apart, it keeps the install from going on.
            const bool anotherSession = entry.session && ownSession && *entry.session != *ownSession;
            if (image.empty() && anotherSession) continue;
            const std::wstring cannotKill = L"Cannot kill VIZAVU PID " + SignedDecimal(entry.processId);
            if (pass == MaxKillPasses) throw Error(cannotKill);
            serverLeft = true;
            if (image.empty()) {
                s_.ui.SetStatusText(cannotKill);
                continue;
            }
            server->Terminate(1);
            server->Wait(1000ms);
        }
        if (!serverLeft) return;
        s_.processes.Sleep(0ms);
    }
}

void TJUVDriverForm::ProvideTool(ToolFolder& folder, std::unique_ptr<Resource>& payload) {
    // The tool runs with administrator rights, so a file already there is used only when it is
    // exactly the payload, in a folder only administrators could ever change.
    if (folder.HoldFolder() && folder.ToolPresent()) {
        payload = OpenPayload();
        if (folder.HoldTool(payload->Bytes())) return;
    }
    s_.ui.SetLabelText(L"Extracting wdi...");
    CreateInstallFolder(folder);
    if (!payload) payload = OpenPayload();
    WriteToolFile(folder, *payload);
}

void TJUVDriverForm::CreateInstallFolder(ToolFolder& folder) {
    // Something in the way that cannot be moved aside ends the sequence here: nothing may run.
    // A folder that cannot be made is reported and the sequence goes on: the extraction that
    // follows then fails with its own, more telling error.
    if (const std::uint32_t error = folder.MakeFolder())
        s_.ui.ShowMessageDialog(InOutErrorMessage(error, folder.Path()), Title());
}

std::unique_ptr<Resource> TJUVDriverForm::OpenPayload() {
    std::unique_ptr<Resource> payload = s_.resources.FindRcData(PayloadName);
    if (!payload) throw Error(std::wstring(L"Ressource ") + PayloadName + L" nicht gefunden");
    return payload;
}

void TJUVDriverForm::CheckToolFolder(ToolFolder& folder) {
    // Windows loads DLLs, manifests and redirections it finds beside a program into it, and
    // the tool runs with administrator rights: its folder may hold nothing of that kind. Such a
    // file is shown, never deleted: it may be someone's, and the technician should see it.
    std::vector<std::wstring> names;
    const std::uint32_t error = folder.Held() ? folder.Held()->List(names) : ErrorCode::PathNotFound;
    if (error) throw Error(InOutErrorMessage(error, folder.Path()), error);
    std::wstring first, firstKey;
    for (const std::wstring& name : names) {
        std::wstring key = name;
        UpCaseAscii(key);
        const auto endsWith = [&key](const std::wstring& end) {
            return key.size() >= end.size() && key.compare(key.size() - end.size(), end.size(), end) == 0;
        };
        const bool loadable = endsWith(L".DLL") || (endsWith(L".EXE") && key != L"WDI-SIMPLE.EXE") ||
                              endsWith(L".MANIFEST") || key == L"WDI-SIMPLE.EXE.LOCAL";
        if (loadable && (first.empty() || key < firstKey)) {
            first = name;
            firstKey = key;
        }
    }
    if (!first.empty()) throw Error(L"Unexpected file \"" + first + L"\" in DARORED: remove it and start again");
}

void TJUVDriverForm::WriteToolFile(ToolFolder& folder, const Resource& payload) {
    const std::wstring toolPath = folder.ToolPath();
    const auto createError = [&](std::uint32_t code) {
        return Error(L"Datei \"" + toolPath + L"\" kann nicht erstellt werden. " +
                         TrimErrorText(s_.files.ErrorText(code)),
                     code);
    };
    // The bytes go to a file of this process's own and replace the tool in one rename, so an
    // interrupted write never leaves a partial tool behind, and a second installer writing at
    // the same time never mixes its bytes with ours.
    // Everything goes through the held folder: a folder that could not be made is missing.
    HeldFolder* const held = folder.Held();
    if (!held) throw createError(ErrorCode::PathNotFound);
    const std::wstring toolName = ToolFileName;
    const std::wstring tempName = toolName + L"." + Decimal(s_.processes.CurrentProcessId()) + L".tmp";
    bool renamed = false;
    const ScopeExit removeTemp([&] {
        if (!renamed) held->RemoveFile(tempName);
    });
    {
        std::uint32_t error = 0;
        const std::unique_ptr<OutputFile> file = held->CreateOutputFile(tempName, error);
        if (!file) throw createError(error);
        const std::span<const std::uint8_t> bytes = payload.Bytes();
        if (file->Write(bytes) != bytes.size()) throw Error(L"Stream-Schreibfehler");
    }
    if (const std::uint32_t error = held->MoveOver(tempName, toolName)) {
        // A second installer started at the same time may have put the same tool there a moment
        // ago and now hold it; that one will do.
        if (folder.HoldTool(payload.Bytes())) return;
        throw createError(error);
    }
    renamed = true;
    folder.HoldWrittenTool(payload.Bytes());
}

RunOutcome TJUVDriverForm::ExecuteTool(ToolFolder& folder, const std::wstring& Params) {
    using Kind = RunOutcome::Kind;
    // The tool asks Windows once whether it installs a device and gives up at once if so.
    AwaitWindowsInstalls(s_.devices, s_.processes, s_.ui);
    const std::wstring toolPath = folder.ToolPath();
    s_.ui.SetStatusText(L"Execute: \"" + toolPath + L"\" " + Params);
    // The system starts a program by its path: only a path that opens the very file compared
    // with the payload, and held since, may be handed to it.
    if (!folder.ToolPathOpensHeldTool()) return {Kind::NotStarted};
    const std::unique_ptr<ProcessObject> process =
        s_.processes.StartProgram(toolPath, Params, StartWindow::Normal, StartEnvironment::Machine, &folder.ToolId());
    if (!process) return {Kind::NotStarted};
    const RunOutcome outcome = AwaitRun(*process, s_.ui, ToolRunLimit, [](std::int64_t minutes) {
        return L"Still installing: the driver tool has been working for " + Decimal(minutes) + L" min";
    });
    // The tool is left running; the caller decides what a run that did not end means.
    if (outcome.kind == Kind::TimedOut) {
        s_.ui.SetStatusText(L"Wait Timeout!");
        runLeftRunning_ = true;
    }
    return outcome;
}

std::optional<std::wstring> TJUVDriverForm::FailureReason(const RunOutcome& outcome) {
    using Kind = RunOutcome::Kind;
    switch (outcome.kind) {
    case Kind::NotStarted: return L"Cannot start wdi-simple.exe";
    case Kind::TimedOut: return L"Wait Timeout!";
    case Kind::Unknown: return L"Tool result unknown";
    case Kind::Ended: break;
    }
    if (outcome.exitCode == 0) return std::nullopt;
    std::wstring reason = L"Tool failed with exit code " + SignedDecimal(outcome.exitCode);
    if (const wchar_t* meaning = ToolCodeMeaning(static_cast<std::int32_t>(outcome.exitCode)))
        reason += std::wstring(L" (") + meaning + L")";
    return reason;
}

void TJUVDriverForm::ElevateSelf() {
    if (s_.shell.IsUserAnAdmin()) return;
    ShellExecuteRequest request;
    request.mask = SeeMask::NoAsync | SeeMask::FlagNoUi;
    request.window = s_.ui.MainWindow();
    request.verb = L"runas";
    request.file = CommandLineParams(s_.commandLine).Param(0);
    // Only the switches travel: the new instance gets "/AUTO" or nothing at all, with
    // "/UNINSTALL" before it when the driver is to come off.
    std::wstring parameters = Removing() ? UninstallSwitch : L"";
    if (isAuto) parameters += parameters.empty() ? AutoSwitch : std::wstring(L" ") + AutoSwitch;
    if (!parameters.empty()) request.parameters = parameters;
    request.show = ShowNormal;
    if (s_.shell.Execute(request).succeeded)
        s_.ui.PostQuit();
    else
        s_.ui.SetStatusText(L"Unable to elevate Priviliges!");
}

std::wstring TJUVDriverForm::Title() {
    return ApplicationTitle(s_.commandLine.ModuleFileName(), s_.ui);
}

} // namespace juv
