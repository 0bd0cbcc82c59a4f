#pragma once

#include "app/DeviceVerdict.h"
#include "app/ProgramRun.h"
#include "platform/CommandLineService.h"
#include "platform/DeviceService.h"
#include "platform/DriverStore.h"
#include "platform/FileSystem.h"
#include "platform/ProcessService.h"
#include "platform/ResourceService.h"
#include "platform/ShellService.h"
#include "platform/SyncService.h"
#include "platform/UserInterface.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace juv {

class ToolFolder;

// The services the main window's logic works with; the entry wires the real ones, tests fakes.
struct FormServices {
    const CommandLineService& commandLine;
    ShellService& shell;
    ProcessService& processes;
    ResourceService& resources;
    FileSystem& files;
    UserInterface& ui;
    DeviceService& devices;
    SyncService& sync;
    DriverStore& store;
};

// The main window's logic: the checks at creation, the start tick, the button, the install
// sequence and the elevated relaunch. It reaches the screen only through UserInterface.
class TJUVDriverForm {
public:
    explicit TJUVDriverForm(const FormServices& services);

    void FormCreate();
    void Timer1Timer();
    void Button1Click();
    // Asked before the window closes or the session ends: not while the install runs.
    bool FormCloseQuery() const { return !installing_; }

    // Written by FindServerProcess through the main-window reference.
    bool vizavuRunning = false;
    std::uint32_t vizAvuPID = 0;

private:
    void ProbePayload();
    // Runs one of the program's sequences, the install or another that changes the driver,
    // with the window deaf to input and the install mutex owned from its start to its end.
    void RunSequence(void (TJUVDriverForm::*sequence)());
    void InstallDriver();
    void RemoveDriver();
    // "DONE!" or "FAILED!" with the reason, whichever sequence came to it.
    void ShowVerdict(const DeviceVerdict& verdict);
    void KillServer();
    void ProvideTool(ToolFolder& folder, std::unique_ptr<Resource>& payload);
    void CreateInstallFolder(ToolFolder& folder);
    void WriteToolFile(ToolFolder& folder, const Resource& payload);
    std::unique_ptr<Resource> OpenPayload();
    void CheckToolFolder(ToolFolder& folder);
    RunOutcome ExecuteTool(ToolFolder& folder, const std::wstring& Params);
    static std::optional<std::wstring> FailureReason(const RunOutcome& outcome);
    void ElevateSelf();
    std::wstring Title();
    bool Unattended() const;
    bool Removing() const;

    FormServices s_;
    bool isAuto = false;
    // The install sequence runs. Its waits keep the window alive, so messages, ours among them,
    // are handled meanwhile; none of them may start anything.
    bool installing_ = false;
    // A run of the sequence was still at work when its wait ended; the install mutex then stays
    // owned, here, until the program ends.
    bool runLeftRunning_ = false;
    std::unique_ptr<HeldObject> keptOwnership_;
};

// The switch of a run for deployment engines: unattended, and nothing shown at all.
inline constexpr wchar_t SilentSwitch[] = L"/SILENT";
// The switch that takes the driver off again instead of installing it.
inline constexpr wchar_t UninstallSwitch[] = L"/UNINSTALL";

// Owned by whichever installer on this machine changes the driver right now, whatever its
// session or account; an installer that only shows its window does not own it.
inline constexpr wchar_t InstallMutexName[] = L"JUV-LibUSB-driver-install";

// The one main window; set by the entry as soon as the window object exists.
extern TJUVDriverForm* JUVDriverForm;

// Scans the running processes for the server's image name. For each match it sets the main
// window's vizavuRunning and vizAvuPID, so the last match wins; it never clears the flag.
void FindServerProcess(ProcessService& processes);

// The message of the I/O error with that system error code, for a call given path.
std::wstring InOutErrorMessage(std::uint32_t code, const std::wstring& path);

} // namespace juv
