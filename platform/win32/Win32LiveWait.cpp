#include "platform/win32/LiveWait.h"

#include "platform/DispatchingWait.h"
#include "platform/win32/UniqueHandle.h"

#include <memory>

namespace juv {

namespace {

// This thread's queue, and optionally one object to wait for beside it. Every wait of the
// program runs on the window's thread, so it keeps the window painting and answering.
class ThreadQueue final : public MessageQueue {
public:
    explicit ThreadQueue(HANDLE object) : object_(object) {}

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

// The work, shared by its thread and the thread that waits for it; whichever lets go last
// deletes it.
struct SharedWork {
    std::unique_ptr<ThreadWork> work;
    volatile LONG holders = 2;
};

void LetGo(SharedWork* shared) {
    if (::InterlockedDecrement(&shared->holders) == 0) delete shared;
}

DWORD WINAPI RunWork(void* parameter) {
    SharedWork* const shared = static_cast<SharedWork*>(parameter);
    try {
        shared->work->Run();
    } catch (...) {
        // Nobody is left to tell on this thread; the work keeps what it had found.
    }
    LetGo(shared);
    return 0;
}

} // namespace

WaitResult WaitKeepingWindowsAlive(HANDLE object, std::chrono::milliseconds timeout) {
    ThreadQueue queue(object);
    return WaitDispatching(queue, timeout);
}

bool RunOffTheWindowThread(std::unique_ptr<ThreadWork>& work, std::chrono::milliseconds limit) {
    auto shared = std::make_unique<SharedWork>();
    shared->work = std::move(work);
    const UniqueHandle thread(::CreateThread(nullptr, 0, &RunWork, shared.get(), 0, nullptr));
    if (!thread) return false;
    SharedWork* const held = shared.release();
    const bool ended = WaitKeepingWindowsAlive(thread.get(), limit) == WaitResult::Ended;
    // A thread that has ended is done with the work.
    if (ended) work = std::move(held->work);
    LetGo(held);
    return ended;
}

} // namespace juv
