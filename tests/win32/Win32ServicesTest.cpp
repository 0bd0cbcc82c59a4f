// The real Win32 services, each against the system it wraps.
#include "app/FileTests.h"
#include "platform/SystemErrors.h"
#include "platform/win32/Win32Services.h"
#include "tests/win32/Win32Helpers.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>

namespace juv::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class FileSystemOnWindows : public ::testing::Test {
protected:
    ScratchFolder scratch{L"juv-fs"};
    Win32FileSystem files;
    std::wstring Path(const std::wstring& name) const { return scratch.Path() + name; }
};

TEST_F(FileSystemOnWindows, AttributesTellFilesFoldersAndWhyNothingIsThere) {
    WriteBytes(Path(L"file.bin"), {1});
    EXPECT_TRUE(files.GetAttributes(Path(L"file.bin")).valid);
    EXPECT_FALSE(files.GetAttributes(Path(L"file.bin")).directory);
    EXPECT_TRUE(files.GetAttributes(scratch.Path()).directory);
    EXPECT_EQ(files.GetAttributes(Path(L"none")).error, ErrorCode::FileNotFound);
    EXPECT_EQ(files.GetAttributes(Path(L"none\\deeper")).error, ErrorCode::PathNotFound);
    EXPECT_TRUE(files.SearchFindsFile(Path(L"file.bin")));
    EXPECT_FALSE(files.SearchFindsFile(Path(L"none")));
}

TEST_F(FileSystemOnWindows, FoldersAreMadeOneLevelAtATime) {
    for (const FolderAccess access : {FolderAccess::Inherited, FolderAccess::AdministratorsChange}) {
        EXPECT_EQ(files.MakeDirectory(Path(L"one\\"), access), 0u);
        EXPECT_EQ(files.MakeDirectory(Path(L"one\\"), access), ErrorCode::AlreadyExists);
        EXPECT_EQ(files.MakeDirectory(Path(L"a\\b\\"), access), ErrorCode::PathNotFound);
        EXPECT_TRUE(DirectoryExists(files, Path(L"one\\")));
        ::RemoveDirectoryW(Path(L"one").c_str());
    }

    // The tool's folder: administrators and the system may change it, everyone else reads and
    // runs, whatever the parent allows. (Wine keeps no access lists on disk, so the list itself
    // is what can be checked here.)
    ASSERT_EQ(files.MakeDirectory(Path(L"DARORED\\"), FolderAccess::AdministratorsChange), 0u);
    const UniqueLocal descriptor = AdministratorsChangeDescriptor();
    ASSERT_TRUE(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl != nullptr);
    std::vector<std::pair<std::wstring, DWORD>> entries;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(acl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        wchar_t* sid = nullptr;
        ASSERT_TRUE(::ConvertSidToStringSidW(&ace->SidStart, &sid));
        const UniqueLocal release(sid);
        entries.push_back({sid, ace->Mask});
    }
    EXPECT_EQ(entries, (std::vector<std::pair<std::wstring, DWORD>>{
                           {L"S-1-5-32-544", FILE_ALL_ACCESS}, // Administrators
                           {L"S-1-5-18", FILE_ALL_ACCESS},     // SYSTEM
                           {L"S-1-1-0", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}}));  // Everyone
    EXPECT_EQ(files.ChangeDirectory(Path(L"DARORED\\")), 0u);
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(std::wstring(current) + L"\\", Path(L"DARORED\\"));
    EXPECT_EQ(files.ChangeDirectory(Path(L"missing\\")), ErrorCode::FileNotFound);
    ::SetCurrentDirectoryW(ProgramFolder().c_str());
}

TEST_F(FileSystemOnWindows, FolderListingNamesFilesAndFoldersAtTheTopLevel) {
    WriteBytes(Path(L"Version.DLL"), {1});
    ::CreateDirectoryW(Path(L"wdi-simple.exe.local").c_str(), nullptr);
    WriteBytes(Path(L"wdi-simple.exe.local\\deeper.dll"), {1});
    std::vector<std::wstring> names;
    EXPECT_EQ(files.ListFolder(scratch.Path(), names), 0u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Version.DLL", L"wdi-simple.exe.local"}));
    EXPECT_EQ(files.ListFolder(Path(L"missing"), names), ErrorCode::PathNotFound);
}

TEST_F(FileSystemOnWindows, WrittenFileReplacesTheOldOneInOneMove) {
    WriteBytes(Path(L"tool.exe"), {'o', 'l', 'd'});
    std::uint32_t error = 1;
    {
        const auto file = files.CreateOutputFile(Path(L"tool.exe.1.tmp"), error);
        ASSERT_TRUE(file);
        EXPECT_EQ(error, 0u);
        const Bytes big(200000, 0x7E); // more than one piece
        EXPECT_EQ(file->Write(big), big.size());
        // Opened without sharing: nobody else can read it meanwhile.
        EXPECT_EQ(files.CompareContent(Path(L"tool.exe.1.tmp"), big), ContentCheck::Unreadable);
    }
    EXPECT_EQ(files.MoveOver(Path(L"tool.exe.1.tmp"), Path(L"tool.exe")), 0u);
    EXPECT_EQ(ReadBytes(Path(L"tool.exe")).size(), 200000u);
    EXPECT_FALSE(files.GetAttributes(Path(L"tool.exe.1.tmp")).valid);
}

TEST_F(FileSystemOnWindows, MoveOntoAFolderOrIntoAMissingFolderFails) {
    WriteBytes(Path(L"a.tmp"), {1});
    ::CreateDirectoryW(Path(L"tool.exe").c_str(), nullptr);
    EXPECT_NE(files.MoveOver(Path(L"a.tmp"), Path(L"tool.exe")), 0u);
    std::uint32_t error = 0;
    EXPECT_FALSE(files.CreateOutputFile(Path(L"missing\\x.tmp"), error));
    EXPECT_EQ(error, ErrorCode::PathNotFound);
    EXPECT_EQ(files.RemoveFile(Path(L"a.tmp")), 0u);
    EXPECT_EQ(files.RemoveFile(Path(L"a.tmp")), ErrorCode::FileNotFound);
}

TEST_F(FileSystemOnWindows, ContentIsComparedByteForByte) {
    const Bytes payload{'M', 'Z', 0, 1, 2};
    WriteBytes(Path(L"same"), payload);
    WriteBytes(Path(L"shorter"), {'M', 'Z'});
    WriteBytes(Path(L"other"), {'M', 'Z', 0, 1, 3});
    WriteBytes(Path(L"empty"), {});
    EXPECT_EQ(files.CompareContent(Path(L"same"), payload), ContentCheck::Same);
    EXPECT_EQ(files.CompareContent(Path(L"shorter"), payload), ContentCheck::Different);
    EXPECT_EQ(files.CompareContent(Path(L"other"), payload), ContentCheck::Different);
    EXPECT_EQ(files.CompareContent(Path(L"empty"), payload), ContentCheck::Different);
    EXPECT_EQ(files.CompareContent(Path(L"empty"), {}), ContentCheck::Same);
    EXPECT_EQ(files.CompareContent(Path(L"missing"), payload), ContentCheck::Unreadable);
}

TEST_F(FileSystemOnWindows, FileHeldOpenByAnotherStillExists) {
    WriteBytes(Path(L"held"), {1, 2});
    UniqueHandle held(NullIfInvalid(
        ::CreateFileW(Path(L"held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    ASSERT_TRUE(held);
    EXPECT_TRUE(FileExists(files, Path(L"held")));
    EXPECT_FALSE(DirectoryExists(files, Path(L"held")));
}

TEST_F(FileSystemOnWindows, ErrorTextsComeFromTheSystem) {
    EXPECT_FALSE(files.ErrorText(ErrorCode::AccessDenied).empty());
    EXPECT_FALSE(files.ErrorText(ErrorCode::PathNotFound).empty());
}

TEST(ProcessesOnWindows, SnapshotListsThisProcess) {
    Win32Processes processes;
    const auto snapshot = processes.TakeSnapshot();
    ASSERT_TRUE(snapshot);
    ProcessEntry entry;
    bool found = false;
    for (bool more = snapshot->First(entry); more; more = snapshot->Next(entry))
        if (entry.processId == processes.CurrentProcessId()) {
            found = true;
            EXPECT_EQ(entry.exeFile, L"win32_tests.exe");
        }
    EXPECT_TRUE(found);
}

TEST(ProcessesOnWindows, StartedProgramIsWaitedForAndItsExitCodeRead) {
    Win32Shell shell;
    EXPECT_TRUE(shell.IsUserAnAdmin()); // Wine runs everything with administrator rights
    ShellExecuteRequest request;
    request.mask = SeeMask::NoCloseProcess | SeeMask::NoAsync | SeeMask::FlagNoUi;
    request.verb = L"open";
    request.file = L"\"" + ProgramFolder() + L"cmdline_probe.exe\"";
    request.parameters = L"-auto";
    request.show = ShowNormal;
    ShellExecuteResult launch = shell.Execute(request);
    ASSERT_TRUE(launch.succeeded);
    ASSERT_TRUE(launch.process);
    EXPECT_EQ(launch.process->Wait(60000ms), WaitResult::Ended);
    EXPECT_EQ(launch.process->ExitCode(), std::optional<std::uint32_t>(1));
}

TEST(ProcessesOnWindows, ProgramThatCannotBeStartedIsReported) {
    Win32Shell shell;
    ShellExecuteRequest request;
    request.mask = SeeMask::NoCloseProcess | SeeMask::NoAsync | SeeMask::FlagNoUi;
    request.verb = L"open";
    request.file = L"\"" + ProgramFolder() + L"no-such-tool.exe\"";
    request.show = ShowNormal;
    const ShellExecuteResult launch = shell.Execute(request);
    EXPECT_FALSE(launch.succeeded);
    EXPECT_NE(launch.error, 0u);
    EXPECT_FALSE(launch.process);
}

TEST(ProcessesOnWindows, RunningProgramIsEndedWithTheGivenCode) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const std::wstring exe = ProgramFolder() + L"server_double.exe";
    std::wstring line = L"\"" + exe + L"\"";
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);

    Win32Processes processes;
    const auto server = processes.OpenForTermination(info.dwProcessId);
    ASSERT_TRUE(server);
    EXPECT_EQ(server->Wait(0ms), WaitResult::Timeout);
    server->Terminate(1);
    EXPECT_EQ(server->Wait(10000ms), WaitResult::Ended);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 1u);
    EXPECT_FALSE(processes.OpenForTermination(0xFFFFFFF0));
}

TEST(ResourcesOnWindows, PayloadIsFoundByNameAndMissingOnesAreNot) {
    Win32Resources resources(::GetModuleHandleW(nullptr));
    const auto payload = resources.FindRcData(L"WDISIMPLE");
    ASSERT_TRUE(payload);
    const std::string text(reinterpret_cast<const char*>(payload->Bytes().data()), payload->Bytes().size());
    EXPECT_EQ(text.substr(0, 17), "MZ sample payload");
    EXPECT_FALSE(resources.FindRcData(L"NOTTHERE"));
}

} // namespace
} // namespace juv::test
