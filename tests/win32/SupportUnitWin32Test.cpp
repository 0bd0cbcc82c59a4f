#include "errlog32/SupportUnit.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32Services.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <thread>

namespace juv::test {
namespace {

bool MutexExists() {
    UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"Kelvrin-Mutex"));
    return static_cast<bool>(mutex);
}

TEST(SupportUnitOnWindows, HoldsTheNamedMutexFromStartupToShutdown) {
    Win32Clock clock;
    Win32Sync sync;
    ASSERT_FALSE(MutexExists());
    SupportUnit first(clock, sync);
    first.Startup();
    EXPECT_TRUE(MutexExists());
    EXPECT_EQ(first.DelayLoopCount(), 200); // the counter works here: no calibration

    // A second instance opens the same mutex and starts all the same.
    SupportUnit second(clock, sync);
    second.Startup();
    EXPECT_TRUE(second.HoldsMutex());

    first.Shutdown();
    EXPECT_TRUE(MutexExists()); // the second still holds it
    second.Shutdown();
    EXPECT_FALSE(MutexExists());
}

TEST(SupportUnitOnWindows, StartsWithoutTheMutexWhenTheNameIsTaken) {
    UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, L"Kelvrin-Mutex"));
    ASSERT_TRUE(event);
    Win32Clock clock;
    Win32Sync sync;
    SupportUnit unit(clock, sync);
    unit.Startup();
    EXPECT_FALSE(unit.HoldsMutex());
    unit.Shutdown();
}

// Another thread of this process stands in for another installer: ownership is per thread.
TEST(SyncOnWindows, SharedMutexHasOneOwnerAtATimeAndOneThatDiedCountsAsFree) {
    Win32Sync sync;
    const std::wstring name = L"JUV-test-" + std::to_wstring(::GetCurrentProcessId());
    MutexOwnership ownership = MutexOwnership::Unavailable;
    std::unique_ptr<HeldObject> theirs;
    std::thread([&] { theirs = sync.OwnSharedMutex(name, ownership); }).join();
    ASSERT_EQ(ownership, MutexOwnership::Owned);

    // Open to administrators and the system account, nobody else. Wine has no private
    // namespaces, so there it is named in the global one, the one place left where every
    // session's installers meet.
    const UniqueHandle opened(::OpenMutexW(READ_CONTROL, FALSE, (L"Global\\" + name).c_str()));
    ASSERT_TRUE(opened);
    DWORD needed = 0;
    ::GetKernelObjectSecurity(opened.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(::GetKernelObjectSecurity(opened.get(), DACL_SECURITY_INFORMATION, buffer.data(), needed, &needed));
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer.data(), SDDL_REVISION_1,
                                                                       DACL_SECURITY_INFORMATION, &text, nullptr));
    const UniqueLocal releaseText(text);
    const std::wstring dacl = text;
    EXPECT_NE(dacl.find(L";;;BA)"), std::wstring::npos) << dacl;
    EXPECT_NE(dacl.find(L";;;SY)"), std::wstring::npos) << dacl;
    EXPECT_EQ(dacl.find(L";;;WD)"), std::wstring::npos) << dacl;

    // Its owner thread has ended without giving it back, as a crashed installer would. (Given
    // back from here it would not be: only the owner thread can.)
    theirs.reset();
    std::unique_ptr<HeldObject> ours = sync.OwnSharedMutex(name, ownership);
    EXPECT_EQ(ownership, MutexOwnership::Owned);
    ASSERT_TRUE(ours);

    std::thread([&] { EXPECT_FALSE(sync.OwnSharedMutex(name, ownership)); }).join();
    EXPECT_EQ(ownership, MutexOwnership::OwnedElsewhere);
    ours.reset();
    std::thread([&] { EXPECT_TRUE(sync.OwnSharedMutex(name, ownership)); }).join();
    EXPECT_EQ(ownership, MutexOwnership::Owned);
}

TEST(SupportUnitOnWindows, ClockReadsAPositiveCounterAndTheTimeOfDay) {
    Win32Clock clock;
    EXPECT_GT(clock.PerformanceCounter(), 0);
    EXPECT_GT(clock.PerformanceFrequency(), 0);
    const auto now = clock.LocalTimeOfDay();
    EXPECT_GE(now.count(), 0);
    EXPECT_LT(now.count(), 24 * 3600 * 1000);
}

TEST(SupportUnitOnWindows, WaitMicrosecondsWaitsAtLeastThatLong) {
    Win32Clock clock;
    Win32Sync sync;
    SupportUnit unit(clock, sync);
    const auto start = clock.PerformanceCounter();
    unit.WaitMicroseconds(20000);
    const double waited = static_cast<double>(clock.PerformanceCounter() - start) / clock.PerformanceFrequency();
    EXPECT_GE(waited, 0.020);
}

} // namespace
} // namespace juv::test
