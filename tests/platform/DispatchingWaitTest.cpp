#include "platform/DispatchingWait.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace juv::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// A thread's queue on a clock of its own: messages arrive at given times, the awaited object
// is signalled at a given time, and dispatching a message takes a given time.
class FakeQueue final : public MessageQueue {
public:
    static constexpr int Quit = -1;

    milliseconds now{1000};
    std::optional<milliseconds> signalledAt;
    std::deque<std::pair<milliseconds, int>> arrivals; // in order of time
    milliseconds dispatchCost{0};
    std::deque<int> pending;
    std::vector<int> dispatched;
    std::vector<int> posted;
    std::vector<milliseconds> waits;
    std::vector<milliseconds> reads; // when the queue was read, once per drain
    bool flooded = false; // a new message is always there, like a window that never stops painting

    Wake Wait(milliseconds timeout) override {
        waits.push_back(timeout);
        if (waits.size() > 100000) return Wake::Failed; // a wait that never ends
        if (flooded) pending.push_back(0);
        const milliseconds end = now + timeout;
        for (;;) {
            while (!arrivals.empty() && arrivals.front().first <= now) {
                pending.push_back(arrivals.front().second);
                arrivals.pop_front();
            }
            if (signalledAt && *signalledAt <= now) return Wake::Object;
            if (!pending.empty()) return Wake::Input;
            milliseconds next = end;
            if (signalledAt) next = std::min(next, *signalledAt);
            if (!arrivals.empty()) next = std::min(next, arrivals.front().first);
            if (next >= end) {
                now = end;
                return Wake::Timeout;
            }
            now = next;
        }
    }
    bool DispatchNext(std::optional<int>& quitCode) override {
        if (reads.empty() || reads.back() != now) reads.push_back(now);
        if (pending.empty()) return false;
        const int message = pending.front();
        pending.pop_front();
        if (message == Quit)
            quitCode = 7;
        else
            dispatched.push_back(message), now += dispatchCost;
        return true;
    }
    void PostQuit(int exitCode) override { posted.push_back(exitCode); }
    milliseconds Now() override { return now; }
};

TEST(DispatchingWait, DispatchesWhatArrivesUntilTheObjectAndPostsATakenQuitAgainAfterwards) {
    FakeQueue queue;
    queue.arrivals = {{1100ms, 1}, {1200ms, FakeQueue::Quit}, {1200ms, 2}, {1300ms, 3}};
    queue.signalledAt = 1500ms;
    EXPECT_EQ(WaitDispatching(queue, 60000ms), WaitResult::Ended);
    EXPECT_EQ(queue.dispatched, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(queue.posted, std::vector<int>{7}); // once, after the wait, with its exit code
    EXPECT_EQ(queue.now, 1500ms);
    // Every wake had a reason: three arrivals and the object, no spinning in between.
    EXPECT_EQ(queue.waits.size(), 4u);

    // A pause without an object: the same, ending when its time is up.
    FakeQueue pause;
    pause.arrivals = {{1100ms, 1}};
    EXPECT_EQ(WaitDispatching(pause, 500ms), WaitResult::Timeout);
    EXPECT_EQ(pause.now, 1500ms);
    EXPECT_EQ(pause.dispatched, std::vector<int>{1});
    EXPECT_TRUE(pause.posted.empty());
}

TEST(DispatchingWait, KeepsItsLimitFromItsOwnStartHoweverManyMessagesCome) {
    FakeQueue queue;
    queue.dispatchCost = 3ms;
    queue.flooded = true;
    queue.signalledAt = 1900ms; // too late
    EXPECT_EQ(WaitDispatching(queue, 600ms), WaitResult::Timeout);
    // At most one message's handling beyond the limit, never a new wait after it.
    EXPECT_GE(queue.now, 1600ms);
    EXPECT_LE(queue.now, 1603ms);
    for (std::size_t i = 1; i < queue.waits.size(); ++i) EXPECT_LE(queue.waits[i], queue.waits[i - 1]);
    EXPECT_FALSE(queue.dispatched.empty());
}

// Nothing arrives for seconds, as while the device is looked at after an install: the queue is
// still read on every wake and at least once a second, or Windows would count the window as hung
// in the moments between two waits.
TEST(DispatchingWait, ReadsTheQueueAtLeastEverySliceAndOnEveryWakeWhenNothingArrives) {
    FakeQueue queue;
    queue.signalledAt = 8300ms;
    EXPECT_EQ(WaitDispatching(queue, 60000ms), WaitResult::Ended);
    ASSERT_FALSE(queue.reads.empty());
    EXPECT_EQ(queue.reads.back(), 8300ms); // also when the object woke it
    milliseconds last = 1000ms;
    for (const milliseconds read : queue.reads) {
        EXPECT_LE(read - last, QueueReadSlice);
        last = read;
    }

    FakeQueue pause;
    EXPECT_EQ(WaitDispatching(pause, 2500ms), WaitResult::Timeout);
    EXPECT_EQ(pause.reads, (std::vector<milliseconds>{2000ms, 3000ms, 3500ms}));
}

} // namespace
} // namespace juv::test
