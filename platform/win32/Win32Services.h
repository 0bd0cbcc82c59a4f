#pragma once

#include "platform/ClockService.h"
#include "platform/CommandLineService.h"
#include "platform/DeviceService.h"
#include "platform/DriverStore.h"
#include "platform/FileId.h"
#include "platform/ReportService.h"
#include "platform/FileSystem.h"
#include "platform/ProcessService.h"
#include "platform/ResourceService.h"
#include "platform/ShellService.h"
#include "platform/SyncService.h"
#include "platform/win32/SystemLibrary.h"

#include <windows.h>

#include <setupapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <optional>

namespace juv {

class Win32CommandLine final : public CommandLineService {
public:
    std::wstring CommandLine() const override;
    std::wstring ModuleFileName() const override;
};

class Win32Clock final : public ClockService {
public:
    std::int64_t PerformanceCounter() override;
    std::int64_t PerformanceFrequency() override;
    std::chrono::milliseconds LocalTimeOfDay() override;
};

class Win32Sync final : public SyncService {
public:
    std::unique_ptr<HeldObject> CreateNamedMutex(const std::wstring& name) override;
    std::unique_ptr<HeldObject> OwnSharedMutex(const std::wstring& name, MutexOwnership& ownership) override;
};

class Win32Processes final : public ProcessService {
public:
    std::unique_ptr<ProcessSnapshot> TakeSnapshot() override;
    std::unique_ptr<ProcessObject> OpenForTermination(std::uint32_t processId) override;
    std::unique_ptr<ProcessObject> StartProgram(const std::wstring& path, const std::wstring& parameters,
                                                StartWindow window, StartEnvironment environment,
                                                const FileId* image) override;
    void Sleep(std::chrono::milliseconds duration) override;
    std::uint32_t CurrentProcessId() override;
    std::optional<std::uint32_t> CurrentSessionId() override;

    // The tool-help entry points, looked up by name on first use: a system without them simply
    // has no process list to offer.
    struct ToolHelp {
        decltype(&::CreateToolhelp32Snapshot) createSnapshot = nullptr;
        decltype(&::Process32FirstW) first = nullptr;
        decltype(&::Process32NextW) next = nullptr;
    };

private:
    std::optional<ToolHelp> toolHelp_;
};

// Wraps a process handle the program was given, for waiting, ending and the exit code.
std::unique_ptr<ProcessObject> AdoptProcessHandle(HANDLE process);

// ProcessService::StartProgram, and with output (inheritable, or null) as the program's
// standard output and error.
std::unique_ptr<ProcessObject> StartProcess(const std::wstring& path, const std::wstring& parameters,
                                            StartWindow window, StartEnvironment environment, HANDLE output,
                                            const FileId* image = nullptr);

class Win32Shell final : public ShellService {
public:
    bool IsUserAnAdmin() override;
    ShellExecuteResult Execute(const ShellExecuteRequest& request) override;

    // The shell's entry points, from the system folder on first use. A system without one of
    // them answers as a refusal would: no administrator rights, nothing started.
    struct Entries {
        BOOL(WINAPI* isUserAnAdmin)() = nullptr;
        BOOL(WINAPI* execute)(SHELLEXECUTEINFOW*) = nullptr;
    };

private:
    const Entries& Shell();

    UniqueModule shell32_;
    std::optional<Entries> entries_;
};

class Win32Devices final : public DeviceService {
public:
    std::optional<std::vector<PresentDevice>> PresentDevices() override;
    std::optional<std::vector<PresentDevice>> KnownDevices() override;
    bool InstallsPending() override;

    // The device functions, from the system folder on first use. Without any one of them the
    // device list cannot be read; without the last, nothing counts as pending.
    struct Entries {
        HDEVINFO(WINAPI* getClassDevs)(const GUID*, const wchar_t*, HWND, DWORD) = nullptr;
        BOOL(WINAPI* enumInfo)(HDEVINFO, DWORD, SP_DEVINFO_DATA*) = nullptr;
        BOOL(WINAPI* getProperty)(HDEVINFO, SP_DEVINFO_DATA*, DWORD, DWORD*, BYTE*, DWORD, DWORD*) = nullptr;
        BOOL(WINAPI* destroyList)(HDEVINFO) = nullptr;
        DWORD(WINAPI* nodeStatus)(ULONG*, ULONG*, DWORD, ULONG) = nullptr;
        BOOL(WINAPI* instanceId)(HDEVINFO, SP_DEVINFO_DATA*, wchar_t*, DWORD, DWORD*) = nullptr;
        DWORD(WINAPI* waitNoPendingInstalls)(DWORD) = nullptr;
    };

private:
    const Entries& SetupApi();
    std::optional<std::vector<PresentDevice>> ListDevices(unsigned long flags);

    UniqueModule setupapi_;
    UniqueModule cfgmgr32_;
    std::optional<Entries> entries_;
};

class Win32DriverStore final : public DriverStore {
public:
    std::optional<std::vector<DriverPackage>> PackagesListing(const std::vector<std::wstring>& hardwareIds) override;
    std::optional<std::wstring> PnpUtilUsage() override;
    std::unique_ptr<ProcessObject> StartPnpUtil(const std::wstring& arguments, StartEnvironment environment) override;

    // Where Windows' own pnputil is, as this process must name it; empty when unknown.
    static std::wstring PnpUtilPath();
};

class Win32Reports final : public ReportService {
public:
    void ToConsole(const std::wstring& line) override;
    void ToEventLog(bool error, const std::wstring& line) override;
};

class Win32Resources final : public ResourceService {
public:
    explicit Win32Resources(HMODULE module) : module_(module) {}
    std::unique_ptr<Resource> FindRcData(const std::wstring& name) override;

private:
    HMODULE module_;
};

// The administrators as owner, full control for them and the system, read and run for everyone,
// for a folder and all that is made in it; empty when the system cannot make it.
UniqueLocal AdministratorsChangeDescriptor();

// The full path the system resolves for an open file or folder, without the long-path prefix;
// empty when it cannot tell.
std::wstring FinalPathOf(HANDLE handle);
// The id of an open file or folder; 0 on success.
std::uint32_t FileIdOf(HANDLE handle, FileId& id);
// What the volume of an open file or folder keeps; 0 on success.
std::uint32_t VolumeOf(HANDLE handle, VolumeTraits& volume);

class Win32FileSystem final : public FileSystem {
public:
    FileAttributes GetAttributes(const std::wstring& path) override;
    std::uint32_t OpenLinkTarget(const std::wstring& path, bool directory) override;
    bool SearchFindsFile(const std::wstring& path) override;
    std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path, std::uint32_t& error) override;
    std::wstring FullPathName(const std::wstring& path) override;
    std::uint32_t FileIdAt(const std::wstring& path, FileId& id) override;
    std::wstring ProgramFilesFolder() override;
    std::uint32_t ChangeDirectory(const std::wstring& path) override;
    std::wstring CurrentDirectory() override;
    std::wstring ErrorText(std::uint32_t code) override;
};

} // namespace juv
