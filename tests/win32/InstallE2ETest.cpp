// The install sequence of the real executable under Wine, with a test double for the tool and
// for the server.
#include "tests/win32/ProgramFixture.h"

#include <cstdlib>

namespace juv::test {
namespace {

const std::wstring FirstRun = L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer \"Quellbrand "
                              L"Industrie-Elektronik oHG\" --type 1  --wcid";
const std::wstring SecondRun = L"--vid 0x1781 --pid 0x7F4 --iid 00 --name \"JUV VCOM\" --manufacturer \"Quellbrand "
                               L"Industrie-Elektronik oHG\" --type 1 ";

std::wstring WithoutBackslash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW((folder + L"*").c_str(), &data)));
    if (!search) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A running copy of the server double under the given image name.
class Server {
public:
    Server(const std::wstring& folder, const std::wstring& imageName) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring exe = folder + imageName;
        CopyTo(ProgramFolder() + L"server_double.exe", exe);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring line = L"\"" + exe + L"\"";
        if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            throw std::runtime_error("cannot start the server double");
        process_.reset(info.hProcess);
        UniqueHandle thread(info.hThread);
    }
    ~Server() { ::TerminateProcess(process_.get(), 0); }
    bool Ended() const { return ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    UniqueHandle process_;
};

TEST_F(ProgramTest, UnattendedRunStopsServersInstallsAndCloses) {
    Server upper(scratch.Path() + L"a\\", L"VIZAVU.EXE");
    Server lower(scratch.Path() + L"b\\", L"vizavu.exe");
    ::Sleep(500);

    RunningProgram program(exe, L"/AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode)) << "the window did not close";
    EXPECT_EQ(exitCode, 0u);

    EXPECT_TRUE(upper.Ended());
    EXPECT_TRUE(lower.Ended());
    EXPECT_EQ(upper.ExitCode(), 1u); // ended by the installer, with exit code 1
    EXPECT_EQ(lower.ExitCode(), 1u);

    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
    const std::vector<Run> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].commandLine, L"\"" + ToolPath() + L"\" " + FirstRun);
    EXPECT_EQ(runs[1].commandLine, L"\"" + ToolPath() + L"\" " + SecondRun);
    for (const Run& run : runs) EXPECT_EQ(run.folder, WithoutBackslash(InstallFolder()));
    // Only what belongs there: no temporary file is left behind.
    EXPECT_EQ(FilesIn(InstallFolder()), (std::vector<std::wstring>{L"usb_driver", L"wdi-simple.exe"}));
}

TEST_F(ProgramTest, WithToolAndDriverFolderOnlyTheSecondRunHappensAndTheWindowStays) {
    ::CreateDirectoryW(InstallFolder().c_str(), nullptr);
    ::CreateDirectoryW((InstallFolder() + L"usb_driver").c_str(), nullptr);
    CopyTo(ProgramFolder() + L"tool_double.exe", ToolPath());

    const auto program = Start();
    ASSERT_TRUE(program->WaitForLabel(L"DONE!"));
    const std::vector<Run> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].commandLine, L"\"" + ToolPath() + L"\" " + SecondRun);
    EXPECT_EQ(program->StatusText(), L"Execute: \"" + ToolPath() + L"\" " + SecondRun);

    ::Sleep(1500);
    DWORD exitCode = 99;
    EXPECT_FALSE(program->WaitForExit(0, exitCode)) << "closed without /AUTO";
    program->Close();
    ASSERT_TRUE(program->WaitForExit(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(ProgramTest, ToolFileThatDiffersFromThePayloadIsReplacedBeforeItRuns) {
    ::CreateDirectoryW(InstallFolder().c_str(), nullptr);
    WriteBytes(ToolPath(), {'M', 'Z', 'b', 'a', 'd'});
    RunningProgram program(exe, L"/AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
}

TEST_F(ProgramTest, FailingToolIsReportedAndTheWindowStaysOpenUnderAuto) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"ok|fail:3", L"Tool failed with exit code 3"},
        {L"ok|fail:-1", L"Tool failed with exit code -1"},
        {L"nofolder", L"Driver folder missing"},
    };
    for (const auto& [mode, reason] : cases) {
        RemoveTree(InstallFolder());
        ToolMode(mode);
        const auto program = Start(L"/AUTO");
        ASSERT_TRUE(program->WaitForLabel(L"FAILED!")) << mode;
        EXPECT_EQ(program->StatusText(), reason);
        ::Sleep(1000);
        DWORD exitCode = 99;
        EXPECT_FALSE(program->WaitForExit(0, exitCode)) << "closed after a failure: " << mode;
        program->Close();
        ASSERT_TRUE(program->WaitForExit(20000, exitCode));
        EXPECT_EQ(exitCode, 0u);
    }
}

TEST_F(ProgramTest, InstallFolderNameTakenByAFileShowsBothErrorsAndTheWindowStaysUsable) {
    const std::wstring blocker = folder + L"DARORED";
    WriteBytes(blocker, {'k', 'e', 'e', 'p'});

    const auto program = Start(L"/AUTO");
    const HWND dialog = program->WaitForBox(L"Zorodereridovudi");
    ASSERT_NE(dialog, nullptr) << "no dialog for the folder";
    EXPECT_EQ(RunningProgram::BoxText(dialog), L"E/A-Fehler 183");
    EXPECT_FALSE(RunningProgram::BoxHasIcon(dialog));
    RunningProgram::Confirm(dialog);

    HWND box = nullptr;
    for (int i = 0; i < 300 && (box == nullptr || box == dialog); ++i) {
        ::Sleep(50);
        box = program->WaitForBox(L"Zorodereridovudi", 100);
        if (box == dialog && ::IsWindow(dialog)) box = nullptr;
    }
    ASSERT_NE(box, nullptr) << "no error box after the dialog";
    const std::wstring text = RunningProgram::BoxText(box);
    const std::wstring expectedStart = L"Datei \"" + folder + L"DARORED\\wdi-simple.exe\" kann nicht erstellt werden. ";
    EXPECT_EQ(text.substr(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(text.back(), L'.');
    EXPECT_TRUE(RunningProgram::BoxHasIcon(box));
    RunningProgram::Confirm(box);

    // Back in the message loop: the window answers and keeps its last texts.
    ::Sleep(500);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(::SendMessageTimeoutW(program->Window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_EQ(program->LabelText(), L"Extracting wdi...");
    EXPECT_EQ(ReadBytes(blocker), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(Runs().empty());
    DWORD exitCode = 99;
    EXPECT_FALSE(program->WaitForExit(0, exitCode));
    program->Close();
    ASSERT_TRUE(program->WaitForExit(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(ProgramTest, WorksFromAFolderWithBlanksAndNonAsciiLetters) {
    const std::wstring programFiles = scratch.Path() + L"Program Files (x86)\\";
    ::CreateDirectoryW(programFiles.c_str(), nullptr);
    PlaceInstaller(programFiles + L"Pr\u00fcf \u65e5\u672c\\");
    RunningProgram program(exe, L"/auto");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
    EXPECT_TRUE(IsDirectory(InstallFolder() + L"usb_driver"));
    const std::vector<Run> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].commandLine, L"\"" + ToolPath() + L"\" " + SecondRun);
    EXPECT_EQ(runs[1].folder, WithoutBackslash(InstallFolder()));
}

// The real 60-second wait; it takes over a minute, so it runs only when asked for.
TEST_F(ProgramTest, SlowToolThatOutlastsTheWaitIsReportedAsTimeout) {
    if (std::getenv("JUV_SLOW_TESTS") == nullptr) GTEST_SKIP() << "set JUV_SLOW_TESTS=1 to run the 60 s wait";
    ToolMode(L"ok|hang:75000");
    const auto program = Start(L"/AUTO");
    ASSERT_TRUE(program->WaitForLabel(L"FAILED!", 120000));
    EXPECT_EQ(program->StatusText(), L"Wait Timeout!");
}

} // namespace
} // namespace juv::test
