#include "tests/win32/Win32Helpers.h"

#include <winioctl.h>

#include <stdexcept>

namespace juv::test {

std::wstring ProgramFolder() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

ScratchFolder::ScratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    // Process ids are reused quickly, so the clock makes the name unique across runs too.
    static unsigned counter = 0;
    path_ = std::wstring(temp) + name + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(++counter) + L"\\";
    if (!::CreateDirectoryW(path_.c_str(), nullptr)) throw std::runtime_error("cannot make a scratch folder");
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

namespace {

bool RemoveOnce(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW((folder + L"\\*").c_str(), &data)));
    bool removed = true;
    if (search) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            // A link goes, never what it points to.
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                removed = (::RemoveDirectoryW(path.c_str()) || ::DeleteFileW(path.c_str())) && removed;
                continue;
            }
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removed = RemoveOnce(path) && removed;
            else
                removed = ::DeleteFileW(path.c_str()) && removed;
        } while (::FindNextFileW(search.get(), &data));
    }
    search.reset();
    return ::RemoveDirectoryW(folder.c_str()) && removed;
}

} // namespace

void RemoveTree(const std::wstring& path) {
    std::wstring folder = path;
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    // Deletes only below the temporary folder, where every test works: a wrong or empty path
    // must never reach anything else, least of all the folder the tests were started from.
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD tempLength = ::GetTempPathW(MAX_PATH + 1, temp);
    if (tempLength < 4 || folder.size() <= tempLength || ::CompareStringOrdinal(folder.c_str(), static_cast<int>(tempLength), temp, static_cast<int>(tempLength), TRUE) != CSTR_EQUAL ||
        folder.find(L"..") != std::wstring::npos)
        throw std::runtime_error("refusing to delete outside the temporary folder");
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    // Programs a test started may take a moment to let go of their files.
    for (int attempt = 0; attempt < 20 && !RemoveOnce(folder); ++attempt) ::Sleep(100);
}

void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    UniqueHandle file(NullIfInvalid(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file) throw std::runtime_error("cannot write a test file");
    DWORD written = 0;
    if (!bytes.empty()) ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::vector<std::uint8_t> ReadBytes(const std::wstring& path) {
    UniqueHandle file(NullIfInvalid(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr)));
    if (!file) return {};
    LARGE_INTEGER size;
    ::GetFileSizeEx(file.get(), &size);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

bool CopyTo(const std::wstring& from, const std::wstring& to) { return ::CopyFileW(from.c_str(), to.c_str(), FALSE); }

std::string UnixPath(const std::wstring& path) {
    using Convert = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) return {};
    char* unix = convert(path.c_str());
    if (unix == nullptr) return {};
    std::string result = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

namespace {

// Starts a Linux program (Wine starts those too). Wine gives no handle that can be waited for,
// so the caller checks the program's effect instead; a short pause lets it finish first.
bool RunUnix(std::wstring line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    ::Sleep(500);
    return true;
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

// The Linux path of a Windows folder, without a trailing slash, ready for a Linux command line;
// empty when Wine cannot tell it.
std::wstring UnixFolder(const std::wstring& folder) {
    std::string unix = UnixPath(folder);
    while (unix.size() > 1 && unix.back() == '/') unix.pop_back();
    return Widen(unix);
}

} // namespace

bool MapDrive(wchar_t letter, const std::wstring& folder) {
    const std::wstring drives = UnixFolder(L"C:\\");
    if (drives.empty()) return false;
    // Drive C: itself is such a link, dosdevices/c:, so its parent is the folder of links.
    const std::wstring link = drives.substr(0, drives.find_last_of(L'/') + 1) + letter + L":";
    RunUnix(L"Z:\\bin\\rm -f " + link);
    if (folder.empty()) return true;
    const std::wstring target = UnixFolder(folder);
    if (target.empty() || !RunUnix(L"Z:\\bin\\ln -s " + target + L" " + link)) return false;
    // Wine looks at its drive links again at most once a second.
    ::Sleep(1500);
    const std::wstring root = std::wstring(1, letter) + L":\\";
    return ::GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MapNetworkDrive(wchar_t letter, const std::wstring& folder) {
    // Wine's own request to its mount manager, as its drive settings make it.
    struct UnixDrive {
        ULONG size;
        ULONG type;
        ULONG fsType;
        DWORD serial;
        ULONGLONG unixDevice;
        WCHAR letter;
        USHORT mountPointOffset;
        USHORT deviceOffset;
        USHORT labelOffset;
    };
    constexpr DWORD DefineUnixDrive = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
    const std::string target = folder.empty() ? std::string() : UnixPath(folder);
    if (!folder.empty() && target.empty()) return false;
    std::vector<char> request(sizeof(UnixDrive) + target.size() + 1, 0);
    auto* drive = reinterpret_cast<UnixDrive*>(request.data());
    drive->size = static_cast<ULONG>(request.size());
    drive->type = DRIVE_REMOTE;
    drive->letter = static_cast<WCHAR>(::towlower(letter));
    if (!target.empty()) {
        drive->mountPointOffset = sizeof(UnixDrive);
        std::copy(target.begin(), target.end(), request.begin() + sizeof(UnixDrive));
    }
    UniqueHandle manager(NullIfInvalid(::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                      nullptr)));
    DWORD returned = 0;
    if (!manager || !::DeviceIoControl(manager.get(), DefineUnixDrive, request.data(), static_cast<DWORD>(request.size()),
                                       nullptr, 0, &returned, nullptr))
        return false;
    if (folder.empty()) return true;
    ::Sleep(1500);
    const std::wstring root = std::wstring(1, letter) + L":\\";
    return ::GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
    std::wstring at = link;
    while (!at.empty() && at.back() == L'\\') at.pop_back();
    const std::size_t slash = at.find_last_of(L'\\');
    const std::wstring parent = UnixFolder(at.substr(0, slash));
    // The target's own name as it stands: Wine would drop a trailing dot from it.
    std::wstring targetAt = target;
    while (!targetAt.empty() && targetAt.back() == L'\\') targetAt.pop_back();
    const std::size_t targetSlash = targetAt.find_last_of(L'\\');
    const std::wstring targetParent = UnixFolder(targetAt.substr(0, targetSlash));
    const std::wstring to = targetParent.empty() ? L"" : targetParent + L"/" + targetAt.substr(targetSlash + 1);
    if (parent.empty() || to.empty() || !RunUnix(L"Z:\\bin\\ln -s " + to + L" " + parent + L"/" + at.substr(slash + 1)))
        return false;
    const DWORD attributes = ::GetFileAttributesW(at.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool SetImmutable(const std::wstring& folder, bool immutable) {
    const std::wstring unix = UnixFolder(folder);
    if (unix.empty()) return false;
    if (!RunUnix(std::wstring(L"Z:\\usr\\bin\\chattr ") + (immutable ? L"+i " : L"-i ") + unix)) return false;
    // Whatever chattr says, what counts is whether the folder now refuses a new entry.
    const std::wstring probe = folder + L"\\immutable-probe";
    const bool refused = !::CreateDirectoryW(probe.c_str(), nullptr);
    if (!refused) ::RemoveDirectoryW(probe.c_str());
    return refused == immutable;
}

ChildResult RunChild(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs,
                     const std::function<void(DWORD)>& whileRunning) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readRaw = nullptr;
    HANDLE writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 0)) throw std::runtime_error("no pipe");
    UniqueHandle readEnd(readRaw);
    UniqueHandle writeEnd(writeRaw);
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION info{};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info))
        throw std::runtime_error("cannot start the child");
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    writeEnd.reset();

    // The pipe is emptied while the child runs, so that a child that writes much never waits
    // for a reader, and once more after it has ended: all it wrote is in the pipe by then. It is
    // never read to its end, which would wait for every holder of the writing end, and Wine's
    // desktop process, when the child is the first window of the session, is one for good.
    ChildResult result;
    char buffer[4096];
    DWORD read = 0;
    const auto drain = [&] {
        DWORD available = 0;
        while (::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               ::ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
            result.bytes.append(buffer, read);
    };
    const DWORD start = ::GetTickCount();
    while (::WaitForSingleObject(process.get(), 20) == WAIT_TIMEOUT) {
        if (::GetTickCount() - start >= timeoutMs) {
            ::TerminateProcess(process.get(), 99);
            throw std::runtime_error("the child did not end");
        }
        drain();
        if (whileRunning) whileRunning(info.dwProcessId);
    }
    drain();
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    result.output.assign(reinterpret_cast<const wchar_t*>(result.bytes.data()), result.bytes.size() / sizeof(wchar_t));
    return result;
}

} // namespace juv::test
