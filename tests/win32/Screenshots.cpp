// Sets up each state a technician meets and saves a picture of it, for the README. Run inside
// a Wine desktop (scripts/screenshots.sh): the pictures are taken from the screen, frames and
// all. Usage: screenshots.exe OUTPUT-FOLDER
#include "tests/win32/DoubleSettings.h"
#include "tests/win32/ProgramDriver.h"
#include "tests/win32/Win32Helpers.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace juv::test {
namespace {

// Saves the part of the screen that the windows cover, as a 24-bit BMP.
void Capture(const std::vector<HWND>& windows, const std::wstring& path) {
    RECT area{};
    for (HWND w : windows) {
        RECT r;
        ::GetWindowRect(w, &r);
        ::UnionRect(&area, &area, &r);
    }
    InflateRect(&area, 8, 8);
    area.left = std::max<LONG>(area.left, 0);
    area.top = std::max<LONG>(area.top, 0);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + imageSize;
    std::vector<std::uint8_t> bytes(file.bfSize);
    std::memcpy(bytes.data(), &file, sizeof(file));
    std::memcpy(bytes.data() + sizeof(file), &info.bmiHeader, sizeof(info.bmiHeader));
    std::memcpy(bytes.data() + file.bfOffBits, bits, imageSize);
    WriteBytes(path, bytes);
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    std::printf("saved %ls\n", path.c_str());
}

class Scene {
public:
    explicit Scene(const wchar_t* installer) : scratch_(L"juv-shot") {
        exe_ = scratch_.Path() + L"ZoroDerERIDovudi.exe";
        CopyTo(ProgramFolder() + installer, exe_);
        SetDoubleSetting(L"ToolLog", scratch_.Path() + L"tool-log.bin");
    }
    std::unique_ptr<RunningProgram> Start(const std::wstring& arguments = L"") {
        auto program = std::make_unique<RunningProgram>(exe_, arguments);
        program->WaitForWindow();
        return program;
    }
    const std::wstring& Folder() const { return scratch_.Path(); }

private:
    ScratchFolder scratch_;
    std::wstring exe_;
};

void Settle() { ::Sleep(1500); }

} // namespace
} // namespace juv::test

int wmain(int argc, wchar_t** argv) {
    using namespace juv::test;
    if (argc < 2) return 2;
    const std::wstring out = std::wstring(argv[1]) + L"\\";
    SetDoubleSetting(L"ToolMode", L"ok");

    { // What an unelevated start looks like.
        ::SetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", L"1");
        Scene scene(L"installer_shots.exe");
        auto program = scene.Start();
        program->WaitForLabel(L"Elevated priviliges required.", 20000);
        Settle();
        Capture({program->Window()}, out + L"start.bmp");
        ::SetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", nullptr);
    }
    { // A running server, asked to be closed first.
        ::SetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", L"1");
        Scene scene(L"installer_shots.exe");
        const std::wstring server = scene.Folder() + L"VIZAVU.EXE";
        CopyTo(ProgramFolder() + L"server_double.exe", server);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring line = L"\"" + server + L"\"";
        ::CreateProcessW(server.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
        ::Sleep(500);
        auto program = scene.Start();
        program->WaitForLabel(L"Please close JUV USB to TCP Server (VIZAVU.exe) first!", 20000);
        Settle();
        Capture({program->Window()}, out + L"server-running.bmp");
        ::SetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", nullptr);
        ::TerminateProcess(info.hProcess, 0);
        ::CloseHandle(info.hProcess);
        ::CloseHandle(info.hThread);
    }
    { // In the middle of the install run: the window is drawn and answers while it waits.
        SetDoubleSetting(L"ToolMode", L"ok|hang:8000");
        Scene scene(L"installer_e2e.exe");
        auto program = scene.Start();
        program->WaitForLabel(L"Installing driver", 90000);
        Settle();
        Capture({program->Window()}, out + L"installing.bmp");
        program->WaitForLabel(L"DONE!", 90000);
        SetDoubleSetting(L"ToolMode", L"ok");
    }
    { // A finished install, with the project's own stand-in as the tool.
        Scene scene(L"ZoroDerERIDovudi.exe");
        auto program = scene.Start();
        program->WaitForLabel(L"DONE!", 90000);
        Settle();
        Capture({program->Window()}, out + L"done.bmp");
    }
    { // A tool that failed.
        SetDoubleSetting(L"ToolMode", L"ok|fail:3");
        Scene scene(L"installer_e2e.exe");
        auto program = scene.Start(L"/AUTO");
        program->WaitForLabel(L"FAILED!", 90000);
        Settle();
        Capture({program->Window()}, out + L"failed.bmp");
        SetDoubleSetting(L"ToolMode", L"ok");
    }
    { // The install folder's name taken by a file: the folder dialog, then the error box.
        Scene scene(L"installer_e2e.exe");
        WriteBytes(scene.Folder() + L"DARORED", {'x'});
        auto program = scene.Start();
        HWND dialog = program->WaitForBox(L"Zorodereridovudi");
        Settle();
        Capture({program->Window(), dialog}, out + L"folder-dialog.bmp");
        RunningProgram::Confirm(dialog);
        HWND box = nullptr;
        for (int i = 0; i < 200 && (box == nullptr || box == dialog); ++i) {
            ::Sleep(50);
            box = program->WaitForBox(L"Zorodereridovudi", 100);
            if (box == dialog && ::IsWindow(dialog)) box = nullptr;
        }
        Settle();
        Capture({program->Window(), box}, out + L"error-box.bmp");
        RunningProgram::Confirm(box);
    }
    DeleteDoubleSettings();
    return 0;
}
