#include "platform/win32/Win32Services.h"

#include "platform/win32/SystemLibrary.h"
#include "platform/win32/UniqueHandle.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace juv {

namespace {

std::uint32_t Result(BOOL ok) { return ok ? 0 : ::GetLastError(); }

} // namespace

FileAttributes Win32FileSystem::GetAttributes(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    FileAttributes result;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        result.error = ::GetLastError();
        return result;
    }
    result.valid = true;
    result.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    result.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return result;
}

std::uint32_t Win32FileSystem::OpenLinkTarget(const std::wstring& path, bool directory) {
    const DWORD share = directory ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ;
    UniqueHandle target(NullIfInvalid(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                                     directory ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr)));
    return target ? 0 : ::GetLastError();
}

bool Win32FileSystem::SearchFindsFile(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW(path.c_str(), &data)));
    return search && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Win32FileSystem::FullPathName(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return {};
        if (length < full.size()) return full.substr(0, length);
        full.resize(length);
    }
}

std::uint32_t Win32FileSystem::FileIdAt(const std::wstring& path, FileId& id) {
    // Opened by name just as the system will open it to start a program there.
    UniqueHandle file(NullIfInvalid(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    if (!file) return ::GetLastError();
    return FileIdOf(file.get(), id);
}

std::wstring Win32FileSystem::ProgramFilesFolder() {
    // Where Windows keeps it, not what the environment says: a user can set the variable. The
    // 32-bit one, as the installer is a 32-bit program; on 32-bit Windows it is Program Files.
    const UniqueModule shell32 = LoadSystemLibrary(L"shell32.dll");
    using KnownFolderPath = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
    const auto known = LookUp<KnownFolderPath>(shell32.get(), "SHGetKnownFolderPath");
    PWSTR path = nullptr;
    if (known == nullptr || FAILED(known(FOLDERID_ProgramFilesX86, 0, nullptr, &path))) return {};
    std::wstring folder = path;
    ::CoTaskMemFree(path);
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::uint32_t Win32FileSystem::ChangeDirectory(const std::wstring& path) {
    return Result(::SetCurrentDirectoryW(path.c_str()));
}

std::wstring Win32FileSystem::CurrentDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
        if (length == 0) return {};
        if (length < path.size()) return path.substr(0, length);
        path.resize(length);
    }
}

std::wstring Win32FileSystem::ErrorText(std::uint32_t code) { return SystemErrorText(code); }

} // namespace juv
