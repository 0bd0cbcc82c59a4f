#pragma once

#include "ProcessService.h"
#include "ScopeExit.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace juv {

// The calling thread's message queue, as seen by a wait that must keep the thread's windows
// alive: a window that reads no messages for a few seconds is marked as hung, and the user is
// offered to end it, in the middle of a driver install.
class MessageQueue {
public:
    enum class Wake { Object, Input, Timeout, Failed };

    virtual ~MessageQueue() = default;
    // Blocks until the awaited object is signalled, a message or input arrives, or the time is up.
    virtual Wake Wait(std::chrono::milliseconds timeout) = 0;
    // Takes the next message out of the queue and dispatches it; false when none is left. A quit
    // message is taken out but not dispatched: its exit code comes back in quitCode.
    virtual bool DispatchNext(std::optional<int>& quitCode) = 0;
    virtual void PostQuit(int exitCode) = 0;
    virtual std::chrono::milliseconds Now() = 0;
};

// The longest a wait blocks without reading the queue. Windows counts a window as hung once its
// thread has read no messages for 5 s and is not waiting for input, which is what a thread is
// doing between two waits, looking at the device, say: every wait therefore reads the queue
// whenever it wakes, and wakes at least this often.
inline constexpr std::chrono::milliseconds QueueReadSlice{1000};

// Waits for the queue's object for at most timeout, counted from here, and dispatches whatever
// arrives meanwhile. A quit message taken out on the way is posted again when the wait ends, so
// that the message loop still ends. Without an object the wait is a pause that ends in Timeout.
inline WaitResult WaitDispatching(MessageQueue& queue, std::chrono::milliseconds timeout) {
    using std::chrono::milliseconds;
    const milliseconds start = queue.Now();
    std::optional<int> quitCode;
    const ScopeExit repostQuit([&] {
        if (quitCode) queue.PostQuit(*quitCode);
    });
    for (;;) {
        const milliseconds elapsed = queue.Now() - start;
        const milliseconds left = elapsed < timeout ? timeout - elapsed : milliseconds(0);
        const milliseconds slice = std::min(left, QueueReadSlice);
        const MessageQueue::Wake woke = queue.Wait(slice);
        // Read on every wake, whatever its reason, and drained to the end: the next wait then
        // blocks until something new arrives, so a busy queue never turns the wait into a spin.
        while (queue.DispatchNext(quitCode)) {
        }
        switch (woke) {
        case MessageQueue::Wake::Object: return WaitResult::Ended;
        case MessageQueue::Wake::Failed: return WaitResult::Failed;
        case MessageQueue::Wake::Timeout:
            if (slice == left) return WaitResult::Timeout;
            break;
        case MessageQueue::Wake::Input:
            // The object wins over input when both are there, so a wait whose time is up and
            // that woke for input has not seen the object: a steady stream of messages cannot
            // stretch it.
            if (left == milliseconds(0)) return WaitResult::Timeout;
            break;
        }
    }
}

} // namespace juv
