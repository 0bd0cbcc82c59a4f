// The relaunch through "runas", with the test installer told that it has no administrator
// rights (Wine starts the relaunched instance without a prompt, and with its rights).
#include "tests/win32/ProgramFixture.h"

namespace juv::test {
namespace {

class ElevationTest : public ProgramTest {
protected:
    ElevationTest() { ::SetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", L"1"); }
    ~ElevationTest() override { ::SetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", nullptr); }

    static void Click(HWND button) { ::PostMessageW(::GetParent(button), WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(button)); }

    // The installer windows other than the first instance's.
    static std::vector<HWND> OtherInstallers(DWORD firstId) {
        std::vector<HWND> others;
        for (HWND w : WindowsOf(0, L"TJUVDriverForm", firstId))
            if (::IsWindowVisible(w)) others.push_back(w);
        return others;
    }
};

TEST_F(ElevationTest, WithoutRightsTheInstallerWaitsForTheButton) {
    const auto program = Start();
    EXPECT_TRUE(program->WaitForLabel(L"Elevated priviliges required.", 10000));
    EXPECT_TRUE(::IsWindowEnabled(program->Button()));
    ::Sleep(2500); // the start tick has come and gone
    EXPECT_EQ(program->LabelText(), L"Elevated priviliges required.");
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(::GetFileAttributesW(InstallFolder().c_str()), INVALID_FILE_ATTRIBUTES);
    program->Close();
    DWORD exitCode = 99;
    ASSERT_TRUE(program->WaitForExit(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(ElevationTest, ButtonRelaunchesWithAutoWhichInstallsAndCloses) {
    const auto program = Start(L"-auto /other \"x y\"");
    ASSERT_TRUE(program->WaitForLabel(L"Elevated priviliges required.", 10000));
    Click(program->Button());
    DWORD exitCode = 99;
    ASSERT_TRUE(program->WaitForExit(30000, exitCode)) << "the first instance did not end";
    EXPECT_EQ(exitCode, 0u);

    // The elevated instance installs by itself and, given "/AUTO", closes.
    const DWORD start = ::GetTickCount();
    while (Runs().size() < 2 && ::GetTickCount() - start < 90000) ::Sleep(100);
    ASSERT_EQ(Runs().size(), 2u);
    while (!OtherInstallers(program->Id()).empty() && ::GetTickCount() - start < 90000) ::Sleep(100);
    EXPECT_TRUE(OtherInstallers(program->Id()).empty()) << "the elevated instance stayed open";
    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
}

TEST_F(ElevationTest, ButtonRelaunchWithoutAutoStaysOpenOnDone) {
    const auto program = Start();
    ASSERT_TRUE(program->WaitForLabel(L"Elevated priviliges required.", 10000));
    Click(program->Button());
    DWORD exitCode = 99;
    ASSERT_TRUE(program->WaitForExit(30000, exitCode));
    EXPECT_EQ(exitCode, 0u);

    const DWORD start = ::GetTickCount();
    std::vector<HWND> others;
    while ((others = OtherInstallers(program->Id())).empty() && ::GetTickCount() - start < 30000) ::Sleep(100);
    ASSERT_EQ(others.size(), 1u);
    HWND label = ::FindWindowExW(others[0], nullptr, L"Static", nullptr);
    wchar_t text[64] = {};
    while (::GetTickCount() - start < 90000) {
        ::GetWindowTextW(label, text, 64);
        if (std::wstring(text) == L"DONE!") break;
        ::Sleep(100);
    }
    EXPECT_STREQ(text, L"DONE!");
    EXPECT_FALSE(::IsWindowEnabled(::FindWindowExW(others[0], nullptr, L"Button", nullptr)));
    ::PostMessageW(others[0], WM_CLOSE, 0, 0);
}

TEST_F(ElevationTest, ButtonRelaunchesTheRemoval) {
    const auto program = Start(L"/uninstall");
    ASSERT_TRUE(program->WaitForLabel(L"Elevated priviliges required.", 10000));
    wchar_t caption[64] = {};
    ::GetWindowTextW(program->Button(), caption, 64);
    EXPECT_STREQ(caption, L" Remove Driver for JUV or QX4530");
    Click(program->Button());
    DWORD exitCode = 99;
    ASSERT_TRUE(program->WaitForExit(30000, exitCode));

    // The elevated instance removes instead of installing: with nothing installed here, it
    // says so, runs no tool and stays open.
    const DWORD start = ::GetTickCount();
    std::vector<HWND> others;
    while ((others = OtherInstallers(program->Id())).empty() && ::GetTickCount() - start < 30000) ::Sleep(100);
    ASSERT_EQ(others.size(), 1u);
    const HWND status = ::FindWindowExW(others[0], nullptr, L"msctls_statusbar32", nullptr);
    wchar_t text[128] = {};
    while (::GetTickCount() - start < 90000) {
        ::SendMessageW(status, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
        if (std::wstring(text) == L"Driver not installed; nothing to remove") break;
        ::Sleep(100);
    }
    EXPECT_STREQ(text, L"Driver not installed; nothing to remove");
    EXPECT_TRUE(Runs().empty());
    ::PostMessageW(others[0], WM_CLOSE, 0, 0);
}

} // namespace
} // namespace juv::test
