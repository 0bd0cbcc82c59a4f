#pragma once

#include "tests/win32/ProgramDriver.h"
#include "tests/win32/Win32Helpers.h"

#include <gtest/gtest.h>

#include <memory>

namespace juv::test {

// A copy of the installer that carries the tool double, alone in a scratch folder, with the
// double's log and mode set through the environment the installer passes on to it.
class ProgramTest : public ::testing::Test {
protected:
    ScratchFolder scratch{L"juv-e2e"};
    std::wstring folder;  // where the installer lies, with a trailing backslash
    std::wstring exe;
    std::wstring log;

    ProgramTest() { PlaceInstaller(scratch.Path()); }

    void PlaceInstaller(const std::wstring& where) {
        folder = where;
        ::CreateDirectoryW(folder.c_str(), nullptr);
        exe = folder + L"ZoroDerERIDovudi.exe";
        log = scratch.Path() + L"tool-log.bin";
        if (!CopyTo(ProgramFolder() + L"installer_e2e.exe", exe)) throw std::runtime_error("cannot copy the installer");
        ::SetEnvironmentVariableW(L"JUV_TOOL_LOG", log.c_str());
        ToolMode(L"ok");
    }
    static void ToolMode(const std::wstring& mode) { ::SetEnvironmentVariableW(L"JUV_TOOL_MODE", mode.c_str()); }

    std::wstring InstallFolder() const { return folder + L"DARORED\\"; }
    std::wstring ToolPath() const { return InstallFolder() + L"wdi-simple.exe"; }
    static std::vector<std::uint8_t> DoubleBytes() { return ReadBytes(ProgramFolder() + L"tool_double.exe"); }

    // The tool runs the double recorded: command line and working folder, in order.
    struct Run {
        std::wstring commandLine;
        std::wstring folder;
    };
    std::vector<Run> Runs() const;

    std::unique_ptr<RunningProgram> Start(const std::wstring& arguments = L"") {
        auto program = std::make_unique<RunningProgram>(exe, arguments);
        EXPECT_NE(program->WaitForWindow(), nullptr) << "no main window";
        return program;
    }
};

inline std::vector<ProgramTest::Run> ProgramTest::Runs() const {
    const std::vector<std::uint8_t> bytes = ReadBytes(log);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\0', start)) != std::wstring::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    std::vector<Run> runs;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) runs.push_back({parts[i], parts[i + 1]});
    return runs;
}

} // namespace juv::test
