// The Windows the tests run on is the one the session asked for: under Wine, WINEARCH=win64 is
// a 64-bit Windows running this 32-bit program under WOW64, win32 a 32-bit one; both Windows 10.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(WindowsPrefix, IsTheKindTheSessionAskedFor) {
    wchar_t arch[16] = {};
    if (GetEnvironmentVariableW(L"WINEARCH", arch, 16) == 0) GTEST_SKIP() << "not under Wine";
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(wow64 != FALSE, std::wstring(arch) == L"win64");

    // GetVersionExW answers 6.2 to a program whose manifest does not name Windows 10; ntdll
    // tells the truth.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto rtl_get_version = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(rtl_get_version, nullptr);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_EQ(rtl_get_version(&version), 0);
    EXPECT_EQ(version.dwMajorVersion, 10u);
    EXPECT_EQ(version.dwMinorVersion, 0u);
}

}  // namespace
