// The real Win32 services, each against the system it wraps.
#include "app/FileTests.h"
#include "app/ToolFolder.h"
#include "platform/SystemErrors.h"
#include "platform/win32/LiveWait.h"
#include "platform/win32/Win32Services.h"
#include "tests/win32/Win32Helpers.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <thread>

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

TEST_F(FileSystemOnWindows, FolderIsMadeAndHeldInOneStepWhereNothingIsAndMovedAsideOnlyAsTheOneJudged) {
    std::uint32_t error = 1;
    const auto place = files.HoldFolder(scratch.Path(), error);
    ASSERT_TRUE(place);
    auto made = place->MakeFolder(L"DARORED", error);
    ASSERT_TRUE(made);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(made->FinalPath() + L"\\", Path(L"DARORED\\"));
    VolumeTraits volume;
    EXPECT_EQ(made->ReadVolume(volume), 0u);
    EXPECT_TRUE(volume.accessLists); // Wine shows its folders as NTFS
    EXPECT_FALSE(volume.remote);

    FileId id, byName;
    EXPECT_EQ(made->ReadId(id), 0u);
    EXPECT_EQ(files.FileIdAt(Path(L"DARORED"), byName), 0u) << made->ReadId(byName);
    EXPECT_EQ(id, byName);
    // Held: nobody renames it away meanwhile.
    EXPECT_FALSE(::MoveFileW(Path(L"DARORED").c_str(), Path(L"moved").c_str()));
    EXPECT_FALSE(place->MakeFolder(L"DARORED", error));
    EXPECT_EQ(error, ErrorCode::AlreadyExists);
    WriteBytes(Path(L"file"), {1});
    EXPECT_FALSE(place->MakeFolder(L"file", error));
    EXPECT_EQ(error, ErrorCode::AlreadyExists);
    EXPECT_FALSE(place->MakeFolder(L"..\\b", error)); // one name, nothing that climbs out
    EXPECT_EQ(error, ErrorCode::InvalidName);
    made.reset();
    // Let go, it is moved aside whole, only as the one judged, never onto something there.
    WriteBytes(Path(L"DARORED\\inside"), {7});
    EXPECT_EQ(place->RenameEntry(L"DARORED", id, L"file"), ErrorCode::AlreadyExists);
    FileId other;
    EXPECT_EQ(files.FileIdAt(Path(L"file"), other), 0u);
    EXPECT_EQ(place->RenameEntry(L"DARORED", other, L"DARORED.old-1"), ErrorCode::FileNotFound);
    EXPECT_EQ(place->RenameEntry(L"DARORED", id, L"DARORED.old-1"), 0u);
    EXPECT_EQ(ReadBytes(Path(L"DARORED.old-1\\inside")), Bytes{7});
    EXPECT_FALSE(files.ProgramFilesFolder().empty());

    // Made with this list: administrators and the system may change it, everyone else reads and
    // runs, whatever the parent allows. (Wine keeps no access lists on disk, so the list itself
    // is what can be checked here.)
    ASSERT_TRUE(made = place->MakeFolder(L"DARORED", error));
    const UniqueLocal descriptor = AdministratorsChangeDescriptor();
    ASSERT_TRUE(descriptor);
    PSID owner = nullptr;
    BOOL ownerDefaulted = TRUE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.get(), &owner, &ownerDefaulted));
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
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
    std::uint32_t error = 1;
    const auto place = files.HoldFolder(scratch.Path(), error);
    ASSERT_TRUE(place);
    std::vector<std::wstring> names;
    EXPECT_EQ(place->List(names), 0u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Version.DLL", L"wdi-simple.exe.local"}));
    // Listed again, it is what is there now.
    WriteBytes(Path(L"later.dll"), {1});
    EXPECT_EQ(place->List(names), 0u);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_TRUE(place->Attributes(L"wdi-simple.exe.local").directory);
    EXPECT_FALSE(place->Attributes(L"Version.DLL").directory);
    EXPECT_EQ(place->Attributes(L"none").error, ErrorCode::FileNotFound);
}

TEST_F(FileSystemOnWindows, WrittenFileReplacesTheOldOneInOneMoveAndNothingElse) {
    WriteBytes(Path(L"tool.exe"), {'o', 'l', 'd'});
    std::uint32_t error = 1;
    const auto place = files.HoldFolder(scratch.Path(), error);
    ASSERT_TRUE(place);
    {
        const auto file = place->CreateOutputFile(L"tool.exe.1.tmp", error);
        ASSERT_TRUE(file);
        EXPECT_EQ(error, 0u);
        const Bytes big(200000, 0x7E); // more than one piece
        EXPECT_EQ(file->Write(big), big.size());
        // Opened without sharing: nobody else can even hold it meanwhile.
        std::uint32_t holdError = 0;
        EXPECT_FALSE(place->HoldFile(L"tool.exe.1.tmp", holdError));
        EXPECT_EQ(holdError, ErrorCode::SharingViolation);
    }
    EXPECT_EQ(place->MoveOver(L"tool.exe.1.tmp", L"tool.exe"), 0u);
    EXPECT_EQ(ReadBytes(Path(L"tool.exe")).size(), 200000u);
    EXPECT_FALSE(place->Attributes(L"tool.exe.1.tmp").valid);

    WriteBytes(Path(L"a.tmp"), {1});
    ::CreateDirectoryW(Path(L"folder").c_str(), nullptr);
    EXPECT_NE(place->MoveOver(L"a.tmp", L"folder"), 0u);
    EXPECT_FALSE(place->CreateOutputFile(L"folder", error));
    EXPECT_EQ(place->RemoveFile(L"a.tmp"), 0u);
    EXPECT_EQ(place->RemoveFile(L"a.tmp"), ErrorCode::FileNotFound);
    EXPECT_NE(place->RemoveFile(L"folder"), 0u);
    EXPECT_TRUE(files.GetAttributes(Path(L"folder")).directory);
}

TEST_F(FileSystemOnWindows, HeldToolIsComparedByteForByteAndCanBeRunButNotChanged) {
    const Bytes payload{'M', 'Z', 0, 1, 2};
    std::uint32_t placeError = 1;
    const auto place = files.HoldFolder(scratch.Path(), placeError);
    ASSERT_TRUE(place);
    const auto compare = [&](const std::wstring& name, const Bytes& bytes) {
        std::uint32_t error = 0;
        const auto held = place->HoldFile(name, error);
        return held ? held->CompareContent(bytes) : ContentCheck::Unreadable;
    };
    WriteBytes(Path(L"same"), payload);
    WriteBytes(Path(L"shorter"), {'M', 'Z'});
    WriteBytes(Path(L"other"), {'M', 'Z', 0, 1, 3});
    WriteBytes(Path(L"empty"), {});
    EXPECT_EQ(compare(L"same", payload), ContentCheck::Same);
    EXPECT_EQ(compare(L"shorter", payload), ContentCheck::Different);
    EXPECT_EQ(compare(L"other", payload), ContentCheck::Different);
    EXPECT_EQ(compare(L"empty", payload), ContentCheck::Different);
    EXPECT_EQ(compare(L"empty", {}), ContentCheck::Same);
    std::uint32_t error = 0;
    EXPECT_FALSE(place->HoldFile(L"missing", error));
    EXPECT_EQ(error, ErrorCode::FileNotFound);

    const auto held = place->HoldFile(L"same", error);
    ASSERT_TRUE(held);
    EXPECT_FALSE(held->IsLink());
    // The path the system will start opens the very file held; another name does not.
    FileId id, byName;
    EXPECT_EQ(held->ReadId(id), 0u);
    EXPECT_EQ(files.FileIdAt(Path(L"same"), byName), 0u);
    EXPECT_EQ(id, byName);
    EXPECT_EQ(files.FileIdAt(Path(L"other"), byName), 0u);
    EXPECT_FALSE(id == byName);
    // Compared again from the start, however often.
    EXPECT_EQ(held->CompareContent(payload), ContentCheck::Same);
    EXPECT_EQ(held->CompareContent(payload), ContentCheck::Same);
    EXPECT_FALSE(::MoveFileW(Path(L"same").c_str(), Path(L"aside").c_str()));
    EXPECT_FALSE(::CopyFileW(Path(L"other").c_str(), Path(L"same").c_str(), FALSE));
    EXPECT_FALSE(::DeleteFileW(Path(L"same").c_str()));
    EXPECT_NE(place->MoveOver(L"other", L"same"), 0u);
    // The system opens a program it starts for reading and running, sharing read and delete.
    UniqueHandle image(NullIfInvalid(::CreateFileW(Path(L"same").c_str(), FILE_READ_DATA | FILE_EXECUTE | SYNCHRONIZE,
                                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_TRUE(image);
    EXPECT_EQ(ReadBytes(Path(L"same")), payload);
}

TEST_F(FileSystemOnWindows, HeldFolderStaysWhereItIsWhileItsContentMayChange) {
    ASSERT_TRUE(::CreateDirectoryW(Path(L"DARORED").c_str(), nullptr));
    std::uint32_t error = 1;
    const auto held = files.HoldFolder(Path(L"DARORED"), error);
    ASSERT_TRUE(held);
    EXPECT_EQ(error, 0u);
    EXPECT_FALSE(held->IsLink());
    EXPECT_FALSE(::MoveFileW(Path(L"DARORED").c_str(), Path(L"moved").c_str()));
    EXPECT_FALSE(::RemoveDirectoryW(Path(L"DARORED").c_str()));
    // The tool is still written and renamed into place, and the tool still makes its folder.
    WriteBytes(Path(L"DARORED\\tool.tmp"), {1});
    EXPECT_EQ(held->MoveOver(L"tool.tmp", L"tool.exe"), 0u);
    EXPECT_TRUE(::CreateDirectoryW(Path(L"DARORED\\usb_driver").c_str(), nullptr));

    FolderSecurity security;
    EXPECT_EQ(held->ReadSecurity(security), 0u);
    EXPECT_FALSE(security.entries.empty());
    // Wine makes up an access list owned by its user: no folder found here shows it was only
    // ever the administrators', so every end-to-end install moves what it finds aside.
    EXPECT_EQ(security.owner, Trustee::Other);

    EXPECT_FALSE(files.HoldFolder(Path(L"missing"), error));
    EXPECT_EQ(error, ErrorCode::FileNotFound);
}

// The folder's path is the one the system resolves for it: through a link above it, the folder
// it leads to. (Wine shows a Linux symbolic link to a folder as a link.)
TEST_F(FileSystemOnWindows, HeldFolderHasThePathTheSystemResolvesThroughALinkAboveIt) {
    ASSERT_TRUE(::CreateDirectoryW(Path(L"real").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Path(L"real\\DARORED").c_str(), nullptr));
    if (!MakeUnixLink(Path(L"link"), Path(L"real"))) GTEST_SKIP() << "no symbolic link could be made here";
    std::uint32_t error = 1;
    const auto held = files.HoldFolder(Path(L"link\\DARORED"), error);
    ASSERT_TRUE(held);
    const std::wstring resolved = held->FinalPath();
    EXPECT_EQ(resolved.substr(resolved.size() - 13), L"\\real\\DARORED");
    EXPECT_EQ(resolved.find(L"\\\\?\\"), std::wstring::npos);
    EXPECT_TRUE(files.GetAttributes(resolved).directory);

    // A name with a trailing dot is held as it stands, not as the folder the system's rewrite of
    // it would name; the path the system gives for it then names another folder, or another
    // name altogether (Wine drops the dot there too).
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + Path(L"x.")).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Path(L"x").c_str(), nullptr));
    const auto dotted = files.HoldFolder(Path(L"x."), error);
    ASSERT_TRUE(dotted);
    FileId dottedId, named;
    ASSERT_EQ(dotted->ReadId(dottedId), 0u);
    const std::wstring final = dotted->FinalPath();
    EXPECT_TRUE(files.FullPathName(final) != final || files.FileIdAt(final, named) != 0 || !(named == dottedId))
        << final;
    EXPECT_EQ(files.FileIdAt(Path(L"x"), named), 0u);
    EXPECT_FALSE(named == dottedId);
    ::RemoveDirectoryW((L"\\\\?\\" + Path(L"x.")).c_str());
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

TEST(ProcessesOnWindows, SnapshotListsThisProcessInItsSession) {
    Win32Processes processes;
    const auto snapshot = processes.TakeSnapshot();
    ASSERT_TRUE(snapshot);
    ProcessEntry entry;
    bool found = false;
    for (bool more = snapshot->First(entry); more; more = snapshot->Next(entry))
        if (entry.processId == processes.CurrentProcessId()) {
            found = true;
            EXPECT_EQ(entry.exeFile, L"win32_tests.exe");
            ASSERT_TRUE(entry.session.has_value());
            EXPECT_EQ(entry.session, processes.CurrentSessionId());
        }
    EXPECT_TRUE(found);
}

TEST(ProcessesOnWindows, StartedProgramIsWaitedForAndItsExitCodeReadAndAMissingOneIsNull) {
    Win32Processes processes;
    const auto probe = processes.StartProgram(ProgramFolder() + L"cmdline_probe.exe", L"-auto", StartWindow::Normal,
                                               StartEnvironment::Machine, nullptr);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->Wait(60000ms), WaitResult::Ended);
    EXPECT_EQ(probe->ExitCode(), std::optional<std::uint32_t>(1));
    EXPECT_FALSE(processes.StartProgram(ProgramFolder() + L"no-such-tool.exe", L"", StartWindow::Hidden,
                                        StartEnvironment::Machine, nullptr));

    // Started only from the very file named by its id: from any other it never runs.
    const std::wstring program = ProgramFolder() + L"cmdline_probe.exe";
    Win32FileSystem files;
    FileId id, other;
    ASSERT_EQ(files.FileIdAt(program, id), 0u);
    ASSERT_EQ(files.FileIdAt(ProgramFolder() + L"server_double.exe", other), 0u);
    const auto checked = processes.StartProgram(program, L"-auto", StartWindow::Hidden, StartEnvironment::Machine, &id);
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->Wait(60000ms), WaitResult::Ended);
    EXPECT_EQ(checked->ExitCode(), std::optional<std::uint32_t>(1));
    EXPECT_FALSE(processes.StartProgram(program, L"-auto", StartWindow::Hidden, StartEnvironment::Machine, &other));
}

// Slow work runs beside the window's thread, which keeps answering; work that outlasts its
// limit is left to finish alone and still cleans up after itself.
TEST(ProcessesOnWindows, WorkOffTheWindowThreadKeepsItsWindowAnswering) {
    static volatile LONG finished = 0;
    struct Slow final : ThreadWork {
        explicit Slow(DWORD ms) : ms(ms) {}
        ~Slow() override { ::InterlockedIncrement(&finished); }
        void Run() override {
            ::Sleep(ms);
            thread = ::GetCurrentThreadId();
        }
        DWORD ms;
        DWORD thread = 0;
    };
    const HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    volatile bool working = true, senderDone = false;
    double worstMs = 0;
    int answers = 0;
    std::thread sender([&] {
        while (working) {
            const ULONGLONG sent = ::GetTickCount64();
            DWORD_PTR result = 0;
            if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) ++answers;
            worstMs = std::max(worstMs, static_cast<double>(::GetTickCount64() - sent));
            ::Sleep(20);
        }
        senderDone = true;
    });
    auto done = RunOffTheWindowThread(std::make_unique<Slow>(800), 60000ms);
    working = false;
    // The last message may still be on its way: answered here too.
    for (MSG message; !senderDone; ::Sleep(1))
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    sender.join();
    ::DestroyWindow(window);
    ASSERT_TRUE(done);
    EXPECT_NE(done->thread, 0u);
    EXPECT_NE(done->thread, ::GetCurrentThreadId());
    EXPECT_GT(answers, 5);
    EXPECT_LT(worstMs, 300.0); // far less than the work's 800 ms

    done.reset();
    const LONG before = finished;
    EXPECT_FALSE(RunOffTheWindowThread(std::make_unique<Slow>(400), 50ms));
    EXPECT_EQ(finished, before); // still at work
    for (int i = 0; i < 200 && finished == before; ++i) ::Sleep(10);
    EXPECT_EQ(finished, before + 1);
}

TEST(ProcessesOnWindows, RunningProgramShowsItsImageAndIsEndedWithTheGivenCode) {
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
    const std::wstring image = server->ImageName();
    EXPECT_TRUE(image.size() >= 18 &&
                image.compare(image.size() - 18, 18, L"\\server_double.exe") == 0)
        << std::string(image.begin(), image.end());
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
