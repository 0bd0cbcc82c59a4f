#pragma once

// Waits on the window's thread that keep its windows painting and answering, and a way to do a
// slow call into the system without keeping them from it.
#include "platform/ProcessService.h"

#include <windows.h>

#include <chrono>
#include <memory>

namespace juv {

// Waits for object, or without one (null) for the time, dispatching this thread's messages.
WaitResult WaitKeepingWindowsAlive(HANDLE object, std::chrono::milliseconds timeout);

// A piece of work for a thread of its own; what it finds it keeps in its own members.
class ThreadWork {
public:
    virtual ~ThreadWork() = default;
    virtual void Run() = 0;
};

// Runs work on a thread of its own and waits for it as above, so that a call that can take a
// while (the device list of every bus, every INF file of the driver store, the start of a
// program) never keeps the window from answering. True when it ran to its end within the limit:
// work is then the caller's again. Otherwise work is null: the thread could not start, or it
// finishes alone and deletes the work then, so the work must own everything it touches. An
// exception that leaves Run ends the work and is not passed on.
bool RunOffTheWindowThread(std::unique_ptr<ThreadWork>& work, std::chrono::milliseconds limit);

// The same for a work of a known kind: back when it ran to its end, null otherwise.
template <typename Work>
std::unique_ptr<Work> RunOffTheWindowThread(std::unique_ptr<Work> work, std::chrono::milliseconds limit) {
    std::unique_ptr<ThreadWork> any = std::move(work);
    if (!RunOffTheWindowThread(any, limit)) return nullptr;
    return std::unique_ptr<Work>(static_cast<Work*>(any.release()));
}

} // namespace juv
