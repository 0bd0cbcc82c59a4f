#include "platform/win32/Win32Services.h"

#include "platform/win32/LiveWait.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/UniqueHandle.h"

#include <cwchar>
#include <memory>
#include <optional>

namespace juv {

namespace {

using namespace std::chrono_literals;

// A start the system has not finished within this long counts as one that failed.
constexpr auto StartLimit = 60000ms;

// Tells a server that serves another user's session from one that holds the device in ours.
std::optional<std::uint32_t> SessionOf(DWORD processId) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(processId, &session)) return std::nullopt;
    return session;
}

// userenv is no DLL that Windows always takes from its own folder: it is loaded from the system
// folder, and a block it made is given back to it while it is still loaded.
void DestroyEnvironment(void* block) {
    using Destroy = BOOL(WINAPI*)(void*);
    if (const auto destroy = LookUp<Destroy>(::GetModuleHandleW(L"userenv.dll"), "DestroyEnvironmentBlock"))
        destroy(block);
}
using UniqueEnvironment = UniqueAny<void*, &DestroyEnvironment>;

// The machine's environment, as Windows makes it for a program started without a user's profile:
// the system's variables only, none of the user's.
struct MachineEnvironment {
    MachineEnvironment() : userenv(LoadSystemLibrary(L"userenv.dll")) {
        using Create = BOOL(WINAPI*)(void**, HANDLE, BOOL);
        void* made = nullptr;
        if (const auto create = LookUp<Create>(userenv.get(), "CreateEnvironmentBlock"))
            if (create(&made, nullptr, FALSE)) block.reset(made);
    }
    UniqueModule userenv; // before the block: it outlives it
    UniqueEnvironment block;
};

// The record the tool-help calls fill; its size field is set to what a 32-bit program passes.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32W) == 556);
#endif

class Snapshot final : public ProcessSnapshot {
public:
    Snapshot(HANDLE handle, const Win32Processes::ToolHelp& toolHelp)
        : handle_(handle), toolHelp_(toolHelp) {}

    bool First(ProcessEntry& entry) override {
        record_.dwSize = sizeof(record_);
        return Read(toolHelp_.first(handle_.get(), &record_), entry);
    }
    bool Next(ProcessEntry& entry) override { return Read(toolHelp_.next(handle_.get(), &record_), entry); }

private:
    bool Read(BOOL found, ProcessEntry& entry) {
        if (!found) return false;
        entry.processId = record_.th32ProcessID;
        entry.exeFile.assign(record_.szExeFile, ::wcsnlen(record_.szExeFile, MAX_PATH));
        entry.session = SessionOf(record_.th32ProcessID);
        return true;
    }

    UniqueHandle handle_;
    Win32Processes::ToolHelp toolHelp_;
    PROCESSENTRY32W record_{};
};

class Process final : public ProcessObject {
public:
    explicit Process(HANDLE handle) : handle_(handle) {}

    void Terminate(std::uint32_t exitCode) override { ::TerminateProcess(handle_.get(), exitCode); }

    WaitResult Wait(std::chrono::milliseconds timeout) override {
        return WaitKeepingWindowsAlive(handle_.get(), timeout);
    }

    std::optional<std::uint32_t> ExitCode() override {
        DWORD code = 0;
        if (!::GetExitCodeProcess(handle_.get(), &code)) return std::nullopt;
        return code;
    }

    std::wstring ImageName() override {
        std::wstring path(32768, L'\0');
        DWORD length = static_cast<DWORD>(path.size());
        if (!::QueryFullProcessImageNameW(handle_.get(), 0, path.data(), &length)) return {};
        path.resize(length);
        return path;
    }

private:
    UniqueHandle handle_;
};

} // namespace

std::unique_ptr<ProcessObject> AdoptProcessHandle(HANDLE process) {
    return std::make_unique<Process>(process);
}

std::unique_ptr<ProcessSnapshot> Win32Processes::TakeSnapshot() {
    if (!toolHelp_) {
        const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        ToolHelp found;
        if (kernel != nullptr) {
            found.createSnapshot = LookUp<decltype(found.createSnapshot)>(kernel, "CreateToolhelp32Snapshot");
            found.first = LookUp<decltype(found.first)>(kernel, "Process32FirstW");
            found.next = LookUp<decltype(found.next)>(kernel, "Process32NextW");
        }
        toolHelp_ = found;
    }
    if (!toolHelp_->createSnapshot || !toolHelp_->first || !toolHelp_->next) return nullptr;
    // Only the process list is read. The full snapshot can fail for the parts that are not
    // (some systems refuse the heap list), and a failed snapshot would let a running server
    // go unnoticed; the process list alone is asked for then.
    HANDLE handle = NullIfInvalid(toolHelp_->createSnapshot(TH32CS_SNAPALL, 0));
    if (handle == nullptr) handle = NullIfInvalid(toolHelp_->createSnapshot(TH32CS_SNAPPROCESS, 0));
    if (handle == nullptr) return nullptr;
    return std::make_unique<Snapshot>(handle, *toolHelp_);
}

std::unique_ptr<ProcessObject> Win32Processes::OpenForTermination(std::uint32_t processId) {
    HANDLE handle =
        ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (handle == nullptr) return nullptr;
    return AdoptProcessHandle(handle);
}

namespace {

// Whether the file a process was started from is the one with that id. The system opened the
// image by its path; asked again by the name it kept, the file there must be that one.
bool StartedFrom(HANDLE process, const FileId& image) {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(name.size());
        if (::QueryFullProcessImageNameW(process, 0, name.data(), &size)) {
            name.resize(size);
            break;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || name.size() >= 32768) return false;
        name.resize(name.size() * 2);
    }
    const UniqueHandle file(NullIfInvalid(::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    FileId started;
    return file && FileIdOf(file.get(), started) == 0 && started == image;
}

} // namespace

std::unique_ptr<ProcessObject> StartProcess(const std::wstring& path, const std::wstring& parameters,
                                            StartWindow window, StartEnvironment environment, HANDLE output,
                                            const FileId* image) {
    // Starting a program takes the system a while, longer when a virus scanner first reads a
    // file just written: done on a thread of its own while the window answers. What it starts
    // is the start's own until it is handed over, so nothing leaks if it comes late.
    struct Start final : ThreadWork {
        Start(const std::wstring& path, const std::wstring& parameters, StartWindow window,
              StartEnvironment environment, HANDLE output, const FileId* image)
            : path(path), commandLine(L"\"" + path + L"\" " + parameters), window(window), environment(environment),
              output(output), image(image ? std::optional<FileId>(*image) : std::nullopt) {}
        void Run() override {
            // Without the machine's environment the program is not started at all: the one it
            // would inherit instead is the user's to set.
            std::optional<MachineEnvironment> machine;
            if (environment == StartEnvironment::Machine && !machine.emplace().block) return;
            STARTUPINFOW startup{};
            startup.cb = sizeof(startup);
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = SW_SHOWNORMAL;
            if (output != nullptr) {
                startup.dwFlags |= STARTF_USESTDHANDLES;
                startup.hStdOutput = output;
                startup.hStdError = output;
            }
            const DWORD flags = (window == StartWindow::Hidden ? CREATE_NO_WINDOW : 0) |
                                (machine ? CREATE_UNICODE_ENVIRONMENT : 0) | (image ? CREATE_SUSPENDED : 0);
            PROCESS_INFORMATION info{};
            if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, flags,
                                  machine ? machine->block.get() : nullptr, nullptr, &startup, &info))
                return;
            const UniqueHandle thread(info.hThread);
            UniqueHandle started(info.hProcess);
            if (image) {
                // Not one instruction of another program runs with administrator rights.
                if (!StartedFrom(started.get(), *image) || ::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
                    ::TerminateProcess(started.get(), ERROR_FILE_NOT_FOUND);
                    return;
                }
            }
            process = std::move(started);
        }
        std::wstring path, commandLine;
        StartWindow window;
        StartEnvironment environment;
        HANDLE output;
        std::optional<FileId> image;
        UniqueHandle process;
    };
    const auto start =
        RunOffTheWindowThread(std::make_unique<Start>(path, parameters, window, environment, output, image),
                              StartLimit);
    if (!start || !start->process) return nullptr;
    return AdoptProcessHandle(start->process.release());
}

std::unique_ptr<ProcessObject> Win32Processes::StartProgram(const std::wstring& path, const std::wstring& parameters,
                                                            StartWindow window, StartEnvironment environment,
                                                            const FileId* image) {
    return StartProcess(path, parameters, window, environment, nullptr, image);
}

void Win32Processes::Sleep(std::chrono::milliseconds duration) {
    // A zero pause only gives up the time slice; anything longer keeps the window alive.
    if (duration.count() <= 0) {
        ::Sleep(0);
        return;
    }
    WaitKeepingWindowsAlive(nullptr, duration);
}

std::uint32_t Win32Processes::CurrentProcessId() { return ::GetCurrentProcessId(); }

std::optional<std::uint32_t> Win32Processes::CurrentSessionId() { return SessionOf(::GetCurrentProcessId()); }

} // namespace juv
