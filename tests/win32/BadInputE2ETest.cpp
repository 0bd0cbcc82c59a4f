// Bad input and faults the real system can produce, each with a clear result: the window ends
// on "DONE!", "FAILED!" with a reason, or an error box, and nothing of the user's is touched.
#include "tests/win32/ProgramFixture.h"

#include <functional>

#include <shlobj.h>

namespace juv::test {
namespace {

std::wstring Reason(RunningProgram& program) { return program.StatusText(); }

// The error box that ends a failed sequence: its text, after which it is confirmed.
std::wstring ErrorBoxText(RunningProgram& program) {
    const HWND box = program.WaitForBox(L"Zorodereridovudi", 60000);
    if (box == nullptr) return L"<no box>";
    const std::wstring text = RunningProgram::BoxText(box);
    EXPECT_TRUE(RunningProgram::BoxHasIcon(box));
    RunningProgram::Confirm(box);
    return text;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// DLLs planted beside the installer, named as DLLs it or the system's DLLs load: none of them
// may run in the installer, which has administrator rights.
TEST_F(ProgramTest, DllsPlantedBesideTheInstallerAreNeverLoaded) {
    const wchar_t* const planted[] = {L"shcore", L"propsys", L"uxtheme", L"version",
                                      L"dwmapi", L"userenv", L"cryptbase", L"setupapi"};
    for (const wchar_t* name : planted) ASSERT_TRUE(CopyTo(ProgramFolder() + L"marker_dll.dll", folder + name + L".dll"));
    // The marker works: loaded the ordinary way, it leaves its file.
    {
        const std::wstring probe = scratch.Path() + L"probe.dll";
        ASSERT_TRUE(CopyTo(ProgramFolder() + L"marker_dll.dll", probe));
        const HMODULE loaded = ::LoadLibraryW(probe.c_str());
        ASSERT_NE(loaded, nullptr);
        ::FreeLibrary(loaded);
        EXPECT_NE(::GetFileAttributesW((probe + L".loaded").c_str()), INVALID_FILE_ATTRIBUTES);
    }

    RunningProgram program(exe, L"/AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode)) << "the window did not close";
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(Runs().size(), 2u);
    for (const wchar_t* name : planted)
        EXPECT_EQ(::GetFileAttributesW((folder + name + L".dll.loaded").c_str()), INVALID_FILE_ATTRIBUTES) << name;
}

// Whatever Windows would load into the tool from its folder stops the install before the tool
// runs; the file is named, and left for the technician to look at. Here it appears while the
// first run is at work, as a program of the user's could put it there on a system without
// access lists.
TEST_F(ProgramTest, FilesThatCouldRunWithTheToolStopTheInstall) {
    for (const wchar_t* name : {L"version.dll", L"VERSION.DLL", L"wdi-simple.exe.local"}) {
        RemoveTree(InstallFolder());
        ::DeleteFileW(log.c_str());
        ToolMode(std::wstring(L"plant:") + name);
        const auto program = Start(L"/AUTO");
        EXPECT_EQ(ErrorBoxText(*program),
                  L"Unexpected file \"" + std::wstring(name) + L"\" in DARORED: remove it and start again.");
        EXPECT_EQ(Runs().size(), 1u) << name; // the first run only
        EXPECT_NE(::GetFileAttributesW((InstallFolder() + name).c_str()), INVALID_FILE_ATTRIBUTES) << name;
        ::Sleep(1000);
        DWORD exitCode = 99;
        EXPECT_FALSE(program->WaitForExit(0, exitCode)) << "closed after the error: " << name;
        CloseNormally(*program);
    }
}

// Another program of the user's session tries to swap the tool while it runs with administrator
// rights, and to move its folder aside: nothing of that gets through, and only the tool the
// installer carries runs.
TEST_F(ProgramTest, ToolAndItsFolderCannotBeSwappedWhileTheToolRuns) {
    // The second run keeps the sequence going beyond the six seconds of attempts.
    ToolMode(L"hang:4000|hang:3000");
    RunningProgram program(exe, L"/AUTO");
    ASSERT_TRUE(WaitForFile(log + L".running")) << "the first run did not start";
    const std::wstring stranger = ProgramFolder() + L"server_double.exe";
    const std::wstring tool = ToolPath();
    const std::wstring folderPath = folder + L"DARORED";
    int attempts = 0, toolMoved = 0, toolReplaced = 0, folderMoved = 0;
    const DWORD attackStart = ::GetTickCount();
    while (::GetTickCount() - attackStart < 6000) {
        ++attempts;
        toolMoved += ::MoveFileW(tool.c_str(), (tool + L".aside").c_str()) ? 1 : 0;
        toolReplaced += ::CopyFileW(stranger.c_str(), tool.c_str(), FALSE) ? 1 : 0;
        folderMoved += ::MoveFileW(folderPath.c_str(), (folderPath + L"-aside").c_str()) ? 1 : 0;
        ::Sleep(20);
    }
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u) << "did not end on DONE!";
    EXPECT_GT(attempts, 50);
    EXPECT_EQ(toolMoved, 0);
    EXPECT_EQ(toolReplaced, 0);
    EXPECT_EQ(folderMoved, 0);
    EXPECT_EQ(Runs().size(), 2u); // both by the tool double, which records its runs
    EXPECT_EQ(ReadBytes(tool), DoubleBytes());
}

// A folder that points elsewhere would have the tool written to, and run from, wherever that
// is: the tool never runs there and nothing there changes. Windows moves a link aside itself;
// Wine renames the folder it leads to instead (found as DARORED.old-1, unchanged) and leaves the
// link, which then keeps a new DARORED from being made: nothing runs at all.
TEST_F(ProgramTest, InstallFolderThatIsALinkRunsNothingFromWhereItLeads) {
    const std::wstring elsewhere = scratch.Path() + L"elsewhere\\";
    ::CreateDirectoryW(elsewhere.c_str(), nullptr);
    ::CreateDirectoryW((elsewhere + L"usb_driver").c_str(), nullptr);
    ASSERT_TRUE(CopyTo(ProgramFolder() + L"server_double.exe", elsewhere + L"wdi-simple.exe"));
    if (!MakeUnixLink(folder + L"DARORED", elsewhere)) GTEST_SKIP() << "no symbolic link could be made here";
    const std::vector<std::uint8_t> stranger = ReadBytes(elsewhere + L"wdi-simple.exe");
    const std::wstring text = L"DARORED could not be protected from other users: remove it and start again";

    const auto program = Start(L"/AUTO");
    EXPECT_EQ(ErrorBoxText(*program), text + L".");
    ::Sleep(1000);
    DWORD exitCode = 99;
    EXPECT_FALSE(program->WaitForExit(0, exitCode)) << "closed after the error";
    CloseNormally(*program);

    const ChildResult silent = RunChild(exe, L"\"" + exe + L"\" /SILENT", 120000);
    EXPECT_EQ(silent.exitCode, 1603u);
    // The line carries the text as the error box shows it.
    EXPECT_EQ(silent.bytes, "FAILED!: " + std::string(text.begin(), text.end()) + ".\r\n");

    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(ReadBytes(AsideFolder() + L"wdi-simple.exe"), stranger);
    EXPECT_TRUE(IsDirectory(AsideFolder() + L"usb_driver"));
}

// Where Windows keeps the 32-bit programs: the administrators' place the install folder goes to
// where nothing beside the installer can be protected.
std::wstring ProgramFilesPlace() {
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::wstring(folder) + L"\\JUV LibUSB driver installer\\DARORED";
}

// An installer in a folder whose name ends in a dot, reached through a link: the system drops
// the dot from every path it is given, which would reach the user's folder without it. Nothing
// is written to or run from there: the install goes to the 32-bit Program Files.
TEST_F(ProgramTest, FolderWhoseNameTheSystemRewritesSendsTheInstallToProgramFiles) {
    const std::wstring real = scratch.Path() + L"real\\";
    ASSERT_TRUE(::CreateDirectoryW(real.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + real + L"x.").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((real + L"x").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((real + L"x\\DARORED").c_str(), nullptr));
    WriteBytes(real + L"x\\DARORED\\notes.txt", {'u'});
    ASSERT_TRUE(::CopyFileW(exe.c_str(), (L"\\\\?\\" + real + L"x.\\ZoroDerERIDovudi.exe").c_str(), FALSE));
    if (!MakeUnixLink(scratch.Path() + L"link", real + L"x.")) GTEST_SKIP() << "no symbolic link could be made here";
    const std::wstring linked = scratch.Path() + L"link\\ZoroDerERIDovudi.exe";

    const ChildResult silent = RunChild(linked, L"\"" + linked + L"\" /SILENT", 120000);
    EXPECT_EQ(silent.exitCode, 0u) << silent.bytes;
    const std::vector<Run> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].folder, ProgramFilesPlace());
    EXPECT_EQ(runs[1].commandLine.substr(0, ProgramFilesPlace().size() + 1), L"\"" + ProgramFilesPlace());
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW((real + L"x\\DARORED\\*").c_str(), &data)));
    std::vector<std::wstring> names;
    if (search) do names.push_back(data.cFileName); while (::FindNextFileW(search.get(), &data));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L".", L"..", L"notes.txt"}));
    EXPECT_FALSE(IsDirectory(real + L"x\\DARORED.old-1"));
    EXPECT_FALSE(IsDirectory(real + L"x\\usb_driver"));
}

TEST_F(ProgramTest, SwitchesThatOnlyResembleAutoAndAVeryLongLineDoNotClose) {
    const std::wstring longParameter(32000, L'p');
    const auto program = Start(L"/AUT \"AUTO\" \\AUTO --AUTO /A-UTO \t\x01 \"\" /\u00c4UTO x/AUTO " + longParameter + L" \"");
    ASSERT_TRUE(program->WaitForLabel(L"DONE!"));
    ::Sleep(1500);
    DWORD exitCode = 99;
    EXPECT_FALSE(program->WaitForExit(0, exitCode)) << "closed although no /AUTO was given";
    CloseNormally(*program);
}

TEST_F(ProgramTest, PayloadsThatAreNoProgramFailToStart) {
    struct Case {
        const wchar_t* installer;
        std::size_t size;
    };
    const Case cases[] = {{L"installer_onebyte.exe", 1}, {L"installer_big.exe", 2 + 64 * 1024 * 1024}};
    for (const Case& c : cases) {
        RemoveTree(InstallFolder());
        ASSERT_TRUE(CopyTo(ProgramFolder() + c.installer, exe));
        const auto program = Start(L"/AUTO");
        const std::wstring first = program->StatusText();
        // Seen before the start tick (one second) only; the arithmetic itself is unit-tested.
        if (first.rfind(L"TEST", 0) == 0) {
            EXPECT_EQ(first, L"TEST wdi-simple " + std::to_wstring((c.size + 512) / 1024) + L" KB") << c.installer;
        }
        ASSERT_TRUE(program->WaitForLabel(L"FAILED!", 90000)) << c.installer;
        // The first run cannot start, so it leaves no driver folder and the second is skipped.
        EXPECT_EQ(Reason(*program), L"Driver folder missing") << c.installer;
        EXPECT_EQ(ReadBytes(ToolPath()).size(), c.size) << c.installer;
        CloseNormally(*program);
    }
}

// The resource compiler leaves an empty payload out altogether: such a program has none.
TEST_F(ProgramTest, EmptyOrMissingPayloadIsReported) {
    for (const wchar_t* installer : {L"installer_empty.exe", L"installer_nopayload.exe"}) {
        ASSERT_TRUE(CopyTo(ProgramFolder() + installer, exe));
        const auto program = Start(L"/AUTO");
        EXPECT_EQ(ErrorBoxText(*program), L"Ressource WDISIMPLE nicht gefunden.") << installer;
        EXPECT_EQ(program->StatusText(), L"Install...");
        EXPECT_EQ(program->LabelText(), L"Extracting wdi...");
        CloseNormally(*program);
    }
}

TEST_F(ProgramTest, MissingPayloadIsReportedEvenWithAToolFileThere) {
    ASSERT_TRUE(CopyTo(ProgramFolder() + L"installer_nopayload.exe", exe));
    ::CreateDirectoryW(InstallFolder().c_str(), nullptr);
    CopyTo(ProgramFolder() + L"tool_double.exe", ToolPath());
    const auto program = Start(L"/AUTO");
    EXPECT_EQ(ErrorBoxText(*program), L"Ressource WDISIMPLE nicht gefunden.");
    EXPECT_TRUE(Runs().empty());
    // Not the administrators' own, so moved aside as it was before the payload was looked for.
    EXPECT_EQ(ReadBytes(AsideFolder() + L"wdi-simple.exe"), DoubleBytes());
    CloseNormally(*program);
}

// What a DARORED holds when someone else made it, the tool of another program, a folder or a
// file where the installer's own belong, is never used, whatever it is: the folder is moved
// aside whole, unchanged, and the install starts afresh. (Wine shows no folder as the
// administrators' own; the reuse of one that is, is tested with the fakes.)
TEST_F(ProgramTest, WhateverAFolderFoundThereHoldsIsMovedAsideWholeAndTheInstallStartsAfresh) {
    struct Case {
        const char* named;
        std::function<void()> arrange;
        std::wstring kept; // what stays in the folder moved aside, as it was
    };
    const Case cases[] = {
        {"another program as the tool", [&] { CopyTo(ProgramFolder() + L"server_double.exe", ToolPath()); }, L"wdi-simple.exe"},
        {"a folder as the tool", [&] { ::CreateDirectoryW(ToolPath().c_str(), nullptr); }, L"wdi-simple.exe"},
        {"a file as the driver folder", [&] { WriteBytes(InstallFolder() + L"usb_driver", {'u'}); }, L"usb_driver"},
    };
    for (const Case& c : cases) {
        RemoveTree(InstallFolder());
        RemoveTree(AsideFolder());
        ::DeleteFileW(log.c_str());
        ::CreateDirectoryW(InstallFolder().c_str(), nullptr);
        c.arrange();
        const DWORD before = ::GetFileAttributesW((InstallFolder() + c.kept).c_str());
        RunningProgram program(exe, L"/AUTO");
        DWORD exitCode = 99;
        ASSERT_TRUE(program.WaitForExit(90000, exitCode)) << c.named;
        EXPECT_EQ(exitCode, 0u) << c.named;
        EXPECT_EQ(Runs().size(), 2u) << c.named;
        EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes()) << c.named;
        EXPECT_EQ(::GetFileAttributesW((AsideFolder() + c.kept).c_str()), before) << c.named;
    }
    EXPECT_EQ(ReadBytes(AsideFolder() + L"usb_driver"), std::vector<std::uint8_t>{'u'});
}

// A program of the user's that made DARORED beforehand holds it open, with the rights to add
// files and change who may: with delete sharing the folder goes aside with it and the tool never
// runs there; without, the install stops and nothing is changed.
TEST_F(ProgramTest, FolderAnotherProgramHoldsIsMovedAsideOrStopsTheInstall) {
    const auto prepare = [&] {
        RemoveTree(InstallFolder());
        ::DeleteFileW(log.c_str());
        ::CreateDirectoryW(InstallFolder().c_str(), nullptr);
        ::CreateDirectoryW((InstallFolder() + L"usb_driver").c_str(), nullptr);
        CopyTo(ProgramFolder() + L"server_double.exe", ToolPath());
        WriteBytes(InstallFolder() + L"notes.txt", {'m', 'i', 'n', 'e'});
    };
    const auto hold = [&](DWORD sharing) {
        return UniqueHandle(NullIfInvalid(::CreateFileW(
            InstallFolder().c_str(), FILE_LIST_DIRECTORY | FILE_ADD_FILE | WRITE_DAC | READ_CONTROL, sharing, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    };
    const std::vector<std::uint8_t> stranger = ReadBytes(ProgramFolder() + L"server_double.exe");

    prepare();
    UniqueHandle held = hold(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(held);
    RunningProgram program(exe, L"/AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    const std::vector<Run> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    for (const Run& run : runs) EXPECT_EQ(run.folder + L"\\", InstallFolder());
    EXPECT_EQ(ReadBytes(AsideFolder() + L"wdi-simple.exe"), stranger);
    EXPECT_EQ(ReadBytes(AsideFolder() + L"notes.txt"), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_TRUE(IsDirectory(AsideFolder() + L"usb_driver"));
    held.reset();

    RemoveTree(AsideFolder());
    prepare();
    held = hold(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(held);
    const auto stopped = Start(L"/AUTO");
    EXPECT_EQ(ErrorBoxText(*stopped), L"DARORED could not be protected from other users: remove it and start again.");
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(ReadBytes(ToolPath()), stranger);
    EXPECT_EQ(ReadBytes(InstallFolder() + L"notes.txt"), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(::GetFileAttributesW(AsideFolder().c_str()), INVALID_FILE_ATTRIBUTES);
    CloseNormally(*stopped);
}

TEST_F(ProgramTest, LeftoverTemporaryFileOfAnotherRunDoesNotDisturb) {
    ::CreateDirectoryW(InstallFolder().c_str(), nullptr);
    WriteBytes(ToolPath() + L".77777.tmp", {'h', 'a', 'l', 'f'});
    RunningProgram program(exe, L"/AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
}

TEST_F(ProgramTest, CrashingToolIsReportedWithItsExceptionCode) {
    ToolMode(L"ok|crash");
    const auto program = Start(L"/AUTO");
    ASSERT_TRUE(program->WaitForLabel(L"FAILED!", 90000));
    EXPECT_EQ(Reason(*program), L"Tool failed with exit code -1073741819");
    CloseNormally(*program);
}

TEST_F(ProgramTest, ToolThatPrintsMegabytesStillCompletes) {
    ToolMode(L"spam:5000000");
    RunningProgram program(exe, L"/AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(120000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(Runs().size(), 2u);
}

// Two installers started together: one installs; the other installs too, or, where its folder
// cannot show it was only the administrators' (Wine), finds it held by the first and stops. The
// tool is never left half written.
TEST_F(ProgramTest, TwoInstancesAtOnceLeaveAnIntactTool) {
    RunningProgram first(exe, L"/AUTO");
    RunningProgram second(exe, L"/AUTO");
    int done = 0, stopped = 0;
    for (const DWORD start = ::GetTickCount(); done + stopped < 2 && ::GetTickCount() - start < 120000; ::Sleep(100)) {
        done = stopped = 0;
        for (RunningProgram* program : {&first, &second}) {
            DWORD exitCode = 99;
            if (program->WaitForExit(0, exitCode)) {
                EXPECT_EQ(exitCode, 0u);
                ++done;
            } else if (const HWND box = program->WaitForBox(L"Zorodereridovudi", 0)) {
                // One that stays has a box up that says why.
                EXPECT_EQ(RunningProgram::BoxText(box),
                          L"DARORED could not be protected from other users: remove it and start again.");
                ++stopped;
            }
        }
    }
    EXPECT_GE(done, 1);
    EXPECT_EQ(done + stopped, 2);
    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW((InstallFolder() + L"*.tmp").c_str(), &data)));
    EXPECT_FALSE(search) << "a temporary file was left behind";
}

TEST_F(ProgramTest, ReadOnlyProgramFolderShowsBothErrorsAndWritesNothing) {
    if (!SetImmutable(folder, true)) GTEST_SKIP() << "no way to make a read-only folder here";
    struct Restore {
        std::wstring folder;
        ~Restore() { SetImmutable(folder, false); }
    } restore{folder};
    const auto program = Start(L"/AUTO");
    const HWND dialog = program->WaitForBox(L"Zorodereridovudi");
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(RunningProgram::BoxHasIcon(dialog));
    const std::wstring folderError = RunningProgram::BoxText(dialog);
    EXPECT_TRUE(folderError == L"Dateizugriff verweigert" || folderError.rfind(L"E/A-Fehler ", 0) == 0) << folderError;
    RunningProgram::Confirm(dialog);
    ::Sleep(500);
    const std::wstring text = ErrorBoxText(*program);
    EXPECT_EQ(text.rfind(L"Datei \"" + ToolPath() + L"\" kann nicht erstellt werden. ", 0), 0u) << text;
    EXPECT_FALSE(IsDirectory(InstallFolder()));
    CloseNormally(*program);
}

// Makes a chain of folders below the scratch folder so that an executable placed there has a
// path of exactly length characters.
std::wstring FolderForPathLength(const std::wstring& base, std::size_t length) {
    const std::size_t name = std::wstring(L"ZoroDerERIDovudi.exe").size();
    std::wstring where = base;
    while (where.size() + name < length) {
        const std::size_t room = length - name - where.size() - 1;
        where += std::wstring(std::min<std::size_t>(room, 40), L'd') + L"\\";
        ::CreateDirectoryW(where.c_str(), nullptr);
    }
    return where;
}

TEST_F(ProgramTest, ProgramPathJustBelowTheOldLimitGivesAClearResult) {
    // The installer starts, and writes the tool byte for byte to a path of over 260
    // characters; the shell then cannot start a program from there, so the first run leaves
    // no driver folder and the window says so.
    PlaceInstaller(FolderForPathLength(scratch.Path(), 259));
    ASSERT_EQ(exe.size(), 259u);
    ASSERT_GT(ToolPath().size(), 260u);
    const auto program = Start(L"/AUTO");
    ASSERT_TRUE(program->WaitForLabel(L"FAILED!", 90000));
    EXPECT_EQ(Reason(*program), L"Driver folder missing");
    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
    EXPECT_TRUE(Runs().empty());
    CloseNormally(*program);
}

TEST_F(ProgramTest, ProgramPathOverTheOldLimitIsRefusedBySystemNotMishandled) {
    // The system itself will not start a program from a path this long, as on Windows; the
    // installer never gets to see such a path, so there is nothing for it to handle.
    PlaceInstaller(FolderForPathLength(scratch.Path(), 300));
    ASSERT_EQ(exe.size(), 300u);
    EXPECT_THROW(RunningProgram(exe, L"/AUTO"), std::runtime_error);
    EXPECT_TRUE(Runs().empty());
}

TEST_F(ProgramTest, WorksFromAMappedDriveLetter) {
    struct Unmap {
        ~Unmap() { MapDrive(L'n', L""); }
    } unmap;
    if (!MapDrive(L'n', folder)) GTEST_SKIP() << "no drive letter could be mapped";
    const std::wstring mapped = L"N:\\ZoroDerERIDovudi.exe";
    ASSERT_NE(::GetFileAttributesW(mapped.c_str()), INVALID_FILE_ATTRIBUTES);
    RunningProgram program(mapped, L"/AUTO");
    DWORD exitCode = 99;
    ASSERT_TRUE(program.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadBytes(ToolPath()), DoubleBytes());
    const std::vector<Run> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    const std::wstring mappedTool = L"\"N:\\DARORED\\wdi-simple.exe\" ";
    EXPECT_EQ(runs[0].commandLine.substr(0, mappedTool.size()), mappedTool);
    EXPECT_EQ(runs[0].folder, L"N:\\DARORED");

    // The same drive as a network drive keeps nothing from other users: nothing is written
    // there, the install goes to the 32-bit Program Files, and a file at the program data name
    // an earlier release used stays as it is.
    wchar_t programData[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData);
    const std::wstring old = std::wstring(programData) + L"\\JUV LibUSB driver installer";
    WriteBytes(old, {'o', 'l', 'd'});
    struct Restore {
        std::wstring old;
        ~Restore() {
            MapNetworkDrive(L'n', L"");
            ::DeleteFileW(old.c_str());
        }
    } restore{old};
    MapDrive(L'n', L"");
    ASSERT_TRUE(MapNetworkDrive(L'n', folder)) << "no network drive could be made";
    HKEY drives = nullptr;
    wchar_t kind[16] = {};
    DWORD size = sizeof(kind);
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wine\\Drives", 0, KEY_READ | KEY_WOW64_64KEY, &drives), ERROR_SUCCESS);
    ::RegQueryValueExW(drives, L"n:", nullptr, nullptr, reinterpret_cast<BYTE*>(kind), &size);
    ::RegCloseKey(drives);
    EXPECT_EQ(std::wstring(kind), L"network");
    ::DeleteFileW(log.c_str());
    ::DeleteFileW(ToolPath().c_str());
    RunningProgram remote(mapped, L"/AUTO");
    ASSERT_TRUE(remote.WaitForExit(90000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    const std::vector<Run> remoteRuns = Runs();
    ASSERT_EQ(remoteRuns.size(), 2u);
    EXPECT_EQ(remoteRuns[0].folder, ProgramFilesPlace());
    EXPECT_EQ(::GetFileAttributesW(ToolPath().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadBytes(old), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

} // namespace
} // namespace juv::test
