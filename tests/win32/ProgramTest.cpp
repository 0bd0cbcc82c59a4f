// The real executable, started under Wine and looked at from outside.
#include "tests/win32/ProgramFixture.h"

#include <commctrl.h>

namespace juv::test {
namespace {

bool MutexExists() {
    UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"Kelvrin-Mutex"));
    return static_cast<bool>(mutex);
}

RECT ChildRect(HWND parent, HWND child) {
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(ProgramTest, WindowComesUpAsDesignedAndClosesWithExitCodeZero) {
    const std::wstring expectedStatus =
        L"TEST wdi-simple " + std::to_wstring((DoubleBytes().size() + 512) / 1024) + L" KB";
    ToolMode(L"nofolder"); // the sequence that follows the tick ends quickly and leaves the window open

    // The start tick comes one second after creation and changes the texts; on a slow machine
    // the first look may come too late, so the program is started again a few times.
    std::unique_ptr<RunningProgram> program;
    std::wstring label, status;
    for (int attempt = 0; attempt < 5; ++attempt) {
        program = Start();
        label = program->LabelText();
        status = program->StatusText();
        if (status == expectedStatus && label == L"Initializing...") break;
        program.reset();
    }
    ASSERT_TRUE(program);
    EXPECT_EQ(label, L"Initializing...");
    EXPECT_EQ(status, expectedStatus);

    const HWND window = program->Window();
    wchar_t caption[256] = {};
    ::GetWindowTextW(window, caption, 256);
    EXPECT_STREQ(caption, L"JUV LibUSB driver installer");
    RECT client;
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, 728);
    EXPECT_EQ(client.bottom, 364);
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);

    const RECT label1 = ChildRect(window, program->Label());
    EXPECT_EQ(label1.left, 24);
    EXPECT_EQ(label1.top, 16);
    EXPECT_GT(label1.right - label1.left, 60);

    const HWND button = program->Button();
    const RECT button1 = ChildRect(window, button);
    EXPECT_EQ(button1.left, 24);
    EXPECT_EQ(button1.top, 112);
    EXPECT_EQ(button1.right - button1.left, 481);
    EXPECT_EQ(button1.bottom - button1.top, 105);
    wchar_t buttonText[256] = {};
    ::GetWindowTextW(button, buttonText, 256);
    EXPECT_STREQ(buttonText, L" Install Driver for JUV or QX4530");
    EXPECT_FALSE(::IsWindowEnabled(button)); // Wine always runs with administrator rights
    EXPECT_TRUE(::GetWindowLongW(button, GWL_STYLE) & WS_TABSTOP);

    const HWND bar = program->StatusBar();
    const RECT statusBar1 = ChildRect(window, bar);
    EXPECT_EQ(statusBar1.left, 0);
    EXPECT_EQ(statusBar1.right, 728);
    EXPECT_EQ(statusBar1.bottom, 364);
    EXPECT_TRUE(::GetWindowLongW(bar, GWL_STYLE) & SBARS_SIZEGRIP);

    EXPECT_TRUE(MutexExists());

    // The one tick runs the sequence; with no driver folder left by the tool it ends in FAILED!.
    EXPECT_TRUE(program->WaitForLabel(L"FAILED!"));
    EXPECT_EQ(program->StatusText(), L"Driver folder missing");

    // Resizing keeps the status bar along the bottom.
    ::SetWindowPos(window, nullptr, 0, 0, 900, 500, SWP_NOMOVE | SWP_NOZORDER);
    ::Sleep(300);
    RECT resized;
    ::GetClientRect(window, &resized);
    const RECT movedBar = ChildRect(window, bar);
    EXPECT_EQ(movedBar.bottom, resized.bottom);
    EXPECT_EQ(movedBar.right, resized.right);

    program->Close();
    DWORD exitCode = 99;
    ASSERT_TRUE(program->WaitForExit(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(MutexExists());
}

TEST(BuiltProgram, VersionBlockReadsBackEveryValue) {
    const std::wstring exe = ProgramFolder() + L"ZoroDerERIDovudi.exe";
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwStrucVersion, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x1A45F671u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 0x4u);
    EXPECT_EQ(fixed->dwFileType, 0x1u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);
    EXPECT_EQ(fixed->dwFileDateMS, 0u);
    EXPECT_EQ(fixed->dwFileDateLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04E4);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {{L"FileDescription", L"JUV USB driver installer"},
                                                                  {L"FileVersion", L"1.2.0.0"},
                                                                  {L"ProductName", L"JUV"},
                                                                  {L"ProductVersion", L"1.1.0.0"}};
    for (const auto& [key, value] : strings) {
        wchar_t* text = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904E4\\") + key;
        ASSERT_TRUE(::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length)) << key;
        EXPECT_STREQ(text, value) << key;
    }
}

class BuiltResources : public ::testing::Test {
protected:
    HMODULE module = nullptr;
    void SetUp() override {
        module = ::LoadLibraryExW((ProgramFolder() + L"ZoroDerERIDovudi.exe").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override {
        if (module) ::FreeLibrary(module);
    }
    std::string Bytes(const wchar_t* type, const wchar_t* name, WORD language) const {
        HRSRC info = ::FindResourceExW(module, type, name, language);
        if (info == nullptr) return "<missing>";
        const char* data = static_cast<const char*>(::LockResource(::LoadResource(module, info)));
        return std::string(data, ::SizeofResource(module, info));
    }
};

TEST_F(BuiltResources, ManifestAsksForCommonControlsSixAndTheCallersRightsOnly) {
    const std::string manifest = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1), 1033);
    ASSERT_NE(manifest, "<missing>");
    EXPECT_EQ(manifest.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n", 0), 0u);
    for (const char* part : {"urn:schemas-microsoft-com:asm.v1", "manifestVersion=\"1.0\"", "type=\"win32\"",
                             "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\"", "processorArchitecture=\"*\"",
                             "urn:schemas-microsoft-com:asm.v3", "level=\"asInvoker\"", "uiAccess=\"false\""})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    for (const char* absent : {"supportedOS", "dpiAware", "dpiAwareness", "<assemblyIdentity type=\"win32\" name=\"JUV"})
        EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
    EXPECT_EQ(manifest.find("\n"), manifest.find("\r\n") + 1); // CR LF line ends
}

TEST_F(BuiltResources, PayloadIsTheToolByteForByteInGerman) {
    const std::string payload = Bytes(RT_RCDATA, L"WDISIMPLE", 1031);
    const std::vector<std::uint8_t> tool = ReadBytes(ProgramFolder() + L"wdi-simple.exe");
    ASSERT_FALSE(tool.empty());
    EXPECT_EQ(payload, std::string(tool.begin(), tool.end()));
    EXPECT_EQ(Bytes(RT_RCDATA, L"WDISIMPLE", 1033), "<missing>");
}

TEST_F(BuiltResources, IconGroupHoldsFourEightBitImages) {
    const std::string group = Bytes(RT_GROUP_ICON, L"MAINICON", 1033);
    ASSERT_NE(group, "<missing>");
    ASSERT_GE(group.size(), 6u + 4 * 14);
    EXPECT_EQ(static_cast<unsigned char>(group[4]), 4); // image count
    const int sizes[] = {16, 32, 48, 64};
    const std::size_t bytes[] = {1384, 2216, 3752, 5672};
    for (int i = 0; i < 4; ++i) {
        const auto* entry = reinterpret_cast<const unsigned char*>(group.data() + 6 + 14 * i);
        EXPECT_EQ(entry[0], sizes[i]);
        EXPECT_EQ(entry[1], sizes[i]);
        EXPECT_EQ(entry[6] | (entry[7] << 8), 8); // bits per pixel
        const std::size_t size = entry[8] | (entry[9] << 8) | (entry[10] << 16);
        EXPECT_EQ(size, bytes[i]);
        const int id = entry[12] | (entry[13] << 8);
        EXPECT_EQ(id, i + 1);
        EXPECT_EQ(Bytes(RT_ICON, MAKEINTRESOURCEW(id), 1033).size(), bytes[i]);
    }
}

// Lists the DLLs whose functions the executable imports, from its import directory.
std::vector<std::string> ImportedDlls(const std::vector<std::uint8_t>& image) {
    const auto at = [&](std::size_t offset) { return image.data() + offset; };
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(at(static_cast<std::size_t>(dos->e_lfanew)));
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    const auto toOffset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i)
            if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + sections[i].Misc.VirtualSize)
                return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
        return 0;
    };
    std::vector<std::string> names;
    const DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(toOffset(importRva))); d->Name != 0; ++d)
        names.emplace_back(reinterpret_cast<const char*>(at(toOffset(d->Name))));
    return names;
}

// Windows resolves an executable's imports before any of its code runs, looking in the
// program's folder first for all but a few DLLs; only those few may be imported.
TEST(BuiltProgram, IsA32BitGuiProgramThatImportsOnlyDllsWindowsTakesFromItsOwnFolder) {
    const std::vector<std::uint8_t> image = ReadBytes(ProgramFolder() + L"ZoroDerERIDovudi.exe");
    ASSERT_GT(image.size(), 1024u);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        image.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // Terminal-server-aware: on a Remote Desktop server Windows gives it its own Windows folder.
    EXPECT_TRUE(nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
    const std::vector<std::string> system = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "OLE32.DLL", "COMCTL32.DLL",
                                             "MSVCRT.DLL"};
    const std::vector<std::string> dlls = ImportedDlls(image);
    EXPECT_FALSE(dlls.empty());
    for (std::string dll : dlls) {
        for (char& c : dll) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
        EXPECT_NE(std::find(system.begin(), system.end(), dll), system.end()) << dll;
    }
}

} // namespace
} // namespace juv::test
