#include "app/InstDriverForm.h"

#include "app/ErrorDisplay.h"
#include "app/FileTests.h"
#include "errlog32/CommandLine.h"
#include "platform/Error.h"
#include "platform/ScopeExit.h"

#include <chrono>

namespace juv {

TJUVDriverForm* JUVDriverForm = nullptr;

namespace {

using namespace std::chrono_literals;

constexpr wchar_t PayloadName[] = L"WDISIMPLE";
constexpr wchar_t ServerImageName[] = L"VIZAVU.EXE";
constexpr wchar_t AutoSwitch[] = L"/AUTO";

// The tool's two runs: the first prepares the driver folder, the second installs the driver.
// Both are passed exactly so, blanks included.
constexpr wchar_t FirstCommandLine[] =
    L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer "
    L"\"Quellbrand Industrie-Elektronik oHG\" --type 1  --wcid";
constexpr wchar_t SecondCommandLine[] =
    L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer "
    L"\"Quellbrand Industrie-Elektronik oHG\" --type 1 ";

// A server that survives this many passes of the stop loop is reported instead of being
// retried for ever with the window frozen.
constexpr int MaxKillPasses = 20;

// A signed decimal number. Written out by hand: the library's formatting drags the whole
// printf machinery into a program that needs nothing else of it.
std::wstring Decimal(std::int64_t value) {
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    return negative ? L"-" + digits : digits;
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

void FindServerProcess(ProcessService& processes) {
    TJUVDriverForm* const form = JUVDriverForm;
    if (form == nullptr) return;
    // The snapshot object closes itself on every path out of here, a throwing scan included.
    const std::unique_ptr<ProcessSnapshot> snapshot = processes.TakeSnapshot();
    if (!snapshot) return;
    ProcessEntry entry;
    for (bool more = snapshot->First(entry); more; more = snapshot->Next(entry)) {
        std::wstring name = entry.exeFile;
        UpCaseAscii(name);
        if (name == ServerImageName) {
            form->vizavuRunning = true;
            form->vizAvuPID = entry.processId;
        }
    }
}

TJUVDriverForm::TJUVDriverForm(const FormServices& services) : s_(services) {}

void TJUVDriverForm::FormCreate() {
    ProbePayload();

    if (s_.shell.IsUserAnAdmin())
        s_.ui.EnableButton(false);
    else
        s_.ui.SetLabelText(L"Elevated priviliges required.");

    vizavuRunning = false;
    FindServerProcess(s_.processes);
    if (vizavuRunning) s_.ui.SetLabelText(L"Please close JUV USB to TCP Server (VIZAVU.exe) first!");

    isAuto = CmdParamPresent(s_.commandLine, AutoSwitch);
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
    if (s_.shell.IsUserAnAdmin()) InstallDriver();
}

void TJUVDriverForm::Button1Click() { ElevateSelf(); }

void TJUVDriverForm::InstallDriver() {
    KillServer();

    const std::wstring exeFolder = ExtractFilePath(CommandLineParams(s_.commandLine).Param(0));
    const std::wstring installFolder = AddBackslash(AddBackslash(exeFolder) + L"DARORED");
    const std::wstring driverFolder = AddBackslash(installFolder + L"usb_driver");
    const std::wstring toolPath = installFolder + L"wdi-simple.exe";
    const std::wstring quotedToolPath = L"\"" + toolPath + L"\"";

    s_.ui.SetStatusText(L"Install...");

    // Held to the end of the sequence and released on every path out of it.
    std::unique_ptr<Resource> payload;
    ProvideTool(installFolder, toolPath, payload);

    if (const std::uint32_t error = s_.files.ChangeDirectory(installFolder))
        throw Error(InOutErrorMessage(error, installFolder), error);

    if (!DirectoryExists(s_.files, driverFolder)) {
        s_.ui.SetLabelText(L"Creating driver");
        // Whatever this run reports, the driver folder it leaves is what counts.
        ExecuteTool(quotedToolPath, FirstCommandLine);
    }

    std::optional<std::wstring> failure;
    if (!DirectoryExists(s_.files, driverFolder)) {
        failure = L"Driver folder missing";
    } else {
        s_.ui.SetLabelText(L"Installing driver");
        failure = FailureReason(ExecuteTool(quotedToolPath, SecondCommandLine));
    }

    if (failure) {
        // The window stays open, /AUTO or not, so the technician sees what went wrong.
        s_.ui.SetLabelText(L"FAILED!");
        s_.ui.SetStatusText(*failure);
        return;
    }

    s_.ui.SetLabelText(L"DONE!");
    // The command line is asked again rather than trusting what creation saw.
    if (CmdParamPresent(s_.commandLine, AutoSwitch)) s_.ui.CloseMainWindow();
}

void TJUVDriverForm::KillServer() {
    for (int pass = 0; pass < MaxKillPasses; ++pass) {
        vizavuRunning = false;
        FindServerProcess(s_.processes);
        if (!vizavuRunning) return;
        if (const std::unique_ptr<ProcessObject> server = s_.processes.OpenForTermination(vizAvuPID)) {
            server->Terminate(1);
            server->Wait(1000ms);
        } else {
            s_.ui.SetStatusText(L"Cannot kill VIZAVU PID " + SignedDecimal(vizAvuPID));
        }
        s_.processes.Sleep(0ms);
    }
    vizavuRunning = false;
    FindServerProcess(s_.processes);
    if (vizavuRunning) throw Error(L"Cannot kill VIZAVU PID " + SignedDecimal(vizAvuPID));
}

void TJUVDriverForm::ProvideTool(const std::wstring& installFolder, const std::wstring& toolPath,
                                 std::unique_ptr<Resource>& payload) {
    // The tool runs with administrator rights from a folder others may be able to write, so a
    // file already there is used only when it is exactly the payload.
    if (FileExists(s_.files, toolPath)) {
        payload = OpenPayload();
        if (s_.files.CompareContent(toolPath, payload->Bytes()) == ContentCheck::Same) return;
    }
    s_.ui.SetLabelText(L"Extracting wdi...");
    CreateInstallFolder(installFolder);
    if (!payload) payload = OpenPayload();
    WriteToolFile(toolPath, *payload);
}

void TJUVDriverForm::CreateInstallFolder(const std::wstring& installFolder) {
    // A folder that cannot be made is reported and the sequence goes on: the extraction that
    // follows then fails with its own, more telling error.
    try {
        if (!DirectoryExists(s_.files, installFolder)) {
            if (const std::uint32_t error = s_.files.MakeDirectory(installFolder))
                throw Error(InOutErrorMessage(error, installFolder), error);
        }
    } catch (...) {
        s_.ui.ShowMessageDialog(ExceptionMessage(std::current_exception()), Title());
    }
}

std::unique_ptr<Resource> TJUVDriverForm::OpenPayload() {
    std::unique_ptr<Resource> payload = s_.resources.FindRcData(PayloadName);
    if (!payload) throw Error(std::wstring(L"Ressource ") + PayloadName + L" nicht gefunden");
    return payload;
}

void TJUVDriverForm::WriteToolFile(const std::wstring& toolPath, const Resource& payload) {
    const auto createError = [&](std::uint32_t code) {
        return Error(L"Datei \"" + toolPath + L"\" kann nicht erstellt werden. " +
                         TrimErrorText(s_.files.ErrorText(code)),
                     code);
    };
    // The bytes go to a file of this process's own and replace the tool in one rename, so an
    // interrupted write never leaves a partial tool behind, and a second installer writing at
    // the same time never mixes its bytes with ours.
    const std::wstring tempPath = toolPath + L"." + Decimal(s_.processes.CurrentProcessId()) + L".tmp";
    bool renamed = false;
    const ScopeExit removeTemp([&] {
        if (!renamed) s_.files.RemoveFile(tempPath);
    });
    {
        std::uint32_t error = 0;
        const std::unique_ptr<OutputFile> file = s_.files.CreateOutputFile(tempPath, error);
        if (!file) throw createError(error);
        const std::span<const std::uint8_t> bytes = payload.Bytes();
        if (file->Write(bytes) != bytes.size()) throw Error(L"Stream-Schreibfehler");
    }
    if (const std::uint32_t error = s_.files.MoveOver(tempPath, toolPath)) throw createError(error);
    renamed = true;
}

TJUVDriverForm::ToolOutcome TJUVDriverForm::ExecuteTool(const std::wstring& FileName,
                                                        const std::wstring& Params) {
    using Kind = ToolOutcome::Kind;
    s_.ui.SetStatusText(L"Execute: " + FileName + L" " + Params);

    ShellExecuteRequest request;
    request.mask = SeeMask::NoCloseProcess | SeeMask::NoAsync | SeeMask::FlagNoUi;
    request.verb = L"open";
    request.file = FileName;
    request.parameters = Params;
    request.show = ShowNormal;
    ShellExecuteResult launch = s_.shell.Execute(request);
    if (!launch.succeeded) return {Kind::NotStarted};
    if (!launch.process) return {Kind::NoProcess};

    switch (launch.process->Wait(60000ms)) {
    case WaitResult::Timeout:
        // The tool is left running; the caller decides what a run that did not end means.
        s_.ui.SetStatusText(L"Wait Timeout!");
        return {Kind::TimedOut};
    case WaitResult::Failed:
        return {Kind::Unknown};
    case WaitResult::Ended:
        break;
    }
    const std::optional<std::uint32_t> exitCode = launch.process->ExitCode();
    if (!exitCode) return {Kind::Unknown};
    return {Kind::Ended, *exitCode};
}

std::optional<std::wstring> TJUVDriverForm::FailureReason(const ToolOutcome& outcome) {
    using Kind = ToolOutcome::Kind;
    switch (outcome.kind) {
    case Kind::NotStarted: return L"Cannot start wdi-simple.exe";
    case Kind::TimedOut: return L"Wait Timeout!";
    case Kind::NoProcess:
    case Kind::Unknown: return L"Tool result unknown";
    case Kind::Ended: break;
    }
    if (outcome.exitCode != 0) return L"Tool failed with exit code " + SignedDecimal(outcome.exitCode);
    return std::nullopt;
}

void TJUVDriverForm::ElevateSelf() {
    if (s_.shell.IsUserAnAdmin()) return;
    ShellExecuteRequest request;
    request.mask = SeeMask::NoAsync | SeeMask::FlagNoUi;
    request.window = s_.ui.MainWindow();
    request.verb = L"runas";
    request.file = CommandLineParams(s_.commandLine).Param(0);
    // Only the switch travels: the new instance gets "/AUTO" or nothing at all.
    if (isAuto) request.parameters = AutoSwitch;
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
