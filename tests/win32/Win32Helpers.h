#pragma once

// Small helpers the Windows-side tests share: where the test programs lie, scratch folders,
// and starting a child with an exact command line.
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace juv::test {

// The folder of the running test program, with a trailing backslash.
std::wstring ProgramFolder();

// A new empty folder under the system's temporary folder, removed with everything in it when
// the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name = L"juv-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& Path() const { return path_; } // ends in a backslash

private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::wstring& path);
bool CopyTo(const std::wstring& from, const std::wstring& to);

// The folder as Wine's Linux side sees it; empty when not running under Wine.
std::string UnixPath(const std::wstring& path);
// Makes a folder immutable (or not) with the Linux chattr, which even root cannot write past:
// the one way to get a read-only folder when Wine runs as root. False when that is not possible.
bool SetImmutable(const std::wstring& folder, bool immutable);

// True when something is at path within the time, looked for every 20 ms: the marker a test
// double leaves while it runs, say.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs = 60000);

// Makes link a Linux symbolic link to the folder target, which Wine shows as a link to a folder.
// False when that is not possible.
bool MakeUnixLink(const std::wstring& link, const std::wstring& target);

// Maps a drive letter to a folder the way Wine keeps its drives (a link in the prefix's
// dosdevices), or removes the mapping when folder is empty. False when that is not possible.
bool MapDrive(wchar_t letter, const std::wstring& folder);
// The same through Wine's mount manager, which keeps the drive's kind in HKLM\Software\Wine\Drives:
// a network drive here. An empty folder takes the drive away again.
bool MapNetworkDrive(wchar_t letter, const std::wstring& folder);

struct ChildResult {
    DWORD exitCode = 0;
    std::string bytes;   // standard output and error, as written
    std::wstring output; // the same, read as UTF-16
};

// Starts program with exactly commandLine (nothing is added or quoted) and waits for it;
// whileRunning, when given, is called about every 20 ms meanwhile with the child's process id.
ChildResult RunChild(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs = 60000,
                     const std::function<void(DWORD)>& whileRunning = {});

} // namespace juv::test
