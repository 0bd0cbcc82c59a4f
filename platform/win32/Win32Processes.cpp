#include "platform/win32/Win32Services.h"

#include "platform/win32/UniqueHandle.h"

#include <cwchar>

namespace juv {

namespace {

// The record the tool-help calls fill; its size field is set to what a 32-bit program passes.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32W) == 556);
#endif

template <typename F>
F LookUp(HMODULE module, const char* name) {
    // Through void(*)() so the compiler accepts the change of function type.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

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
        switch (::WaitForSingleObject(handle_.get(), static_cast<DWORD>(timeout.count()))) {
        case WAIT_OBJECT_0: return WaitResult::Ended;
        case WAIT_TIMEOUT: return WaitResult::Timeout;
        default: return WaitResult::Failed;
        }
    }

    std::optional<std::uint32_t> ExitCode() override {
        DWORD code = 0;
        if (!::GetExitCodeProcess(handle_.get(), &code)) return std::nullopt;
        return code;
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
    HANDLE handle = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (handle == nullptr) return nullptr;
    return AdoptProcessHandle(handle);
}

void Win32Processes::Sleep(std::chrono::milliseconds duration) {
    ::Sleep(static_cast<DWORD>(duration.count()));
}

std::uint32_t Win32Processes::CurrentProcessId() { return ::GetCurrentProcessId(); }

} // namespace juv
