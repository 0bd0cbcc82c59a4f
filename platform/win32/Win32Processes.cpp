#include "platform/win32/Win32Services.h"

#include "platform/DispatchingWait.h"
#include "platform/win32/UniqueHandle.h"

#include <cwchar>

namespace juv {

namespace {

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
        return true;
    }

    UniqueHandle handle_;
    Win32Processes::ToolHelp toolHelp_;
    PROCESSENTRY32W record_{};
};

// This thread's queue, and optionally one object to wait for beside it. Every wait of the
// program runs on the window's thread, so it keeps the window painting and answering.
class ThreadQueue final : public MessageQueue {
public:
    explicit ThreadQueue(HANDLE object = nullptr) : object_(object) {}

    Wake Wait(std::chrono::milliseconds timeout) override {
        const DWORD count = object_ != nullptr ? 1 : 0;
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(count, count != 0 ? &object_ : nullptr,
                                                         static_cast<DWORD>(timeout.count()), QS_ALLINPUT,
                                                         MWMO_INPUTAVAILABLE);
        if (count != 0 && woke == WAIT_OBJECT_0) return Wake::Object;
        if (woke == WAIT_OBJECT_0 + count) return Wake::Input;
        if (woke == WAIT_TIMEOUT) return Wake::Timeout;
        return Wake::Failed;
    }

    bool DispatchNext(std::optional<int>& quitCode) override {
        MSG message;
        if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
        if (message.message == WM_QUIT) {
            quitCode = static_cast<int>(message.wParam);
            return true;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
        return true;
    }

    void PostQuit(int exitCode) override { ::PostQuitMessage(exitCode); }

    std::chrono::milliseconds Now() override { return std::chrono::milliseconds(::GetTickCount64()); }

private:
    HANDLE object_;
};

class Process final : public ProcessObject {
public:
    explicit Process(HANDLE handle) : handle_(handle) {}

    void Terminate(std::uint32_t exitCode) override { ::TerminateProcess(handle_.get(), exitCode); }

    WaitResult Wait(std::chrono::milliseconds timeout) override {
        ThreadQueue queue(handle_.get());
        return WaitDispatching(queue, timeout);
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
    // A zero pause only gives up the time slice; anything longer keeps the window alive.
    if (duration.count() <= 0) {
        ::Sleep(0);
        return;
    }
    ThreadQueue queue;
    WaitDispatching(queue, duration);
}

std::uint32_t Win32Processes::CurrentProcessId() { return ::GetCurrentProcessId(); }

} // namespace juv
