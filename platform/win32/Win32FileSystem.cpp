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

// Large payloads are written and compared in pieces, so memory stays small whatever their size.
constexpr DWORD ChunkSize = 64 * 1024;

class Win32OutputFile final : public OutputFile {
public:
    explicit Win32OutputFile(HANDLE handle) : handle_(handle) {}

    std::size_t Write(std::span<const std::uint8_t> bytes) override {
        std::size_t total = 0;
        while (total < bytes.size()) {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - total, ChunkSize));
            DWORD written = 0;
            if (!::WriteFile(handle_.get(), bytes.data() + total, piece, &written, nullptr) || written == 0)
                break;
            total += written;
        }
        return total;
    }

private:
    UniqueHandle handle_;
};

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

std::uint32_t Win32FileSystem::ReadVolume(const std::wstring& path, VolumeTraits& volume) {
    // The folder itself, wherever links lead: that is the volume that keeps what is put there.
    UniqueHandle folder(NullIfInvalid(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    if (!folder) return ::GetLastError();
    return VolumeOf(folder.get(), volume);
}

std::wstring Win32FileSystem::ProgramDataFolder() {
    // Where Windows keeps it, not what the environment says: a user can set the variable.
    const UniqueModule shell32 = LoadSystemLibrary(L"shell32.dll");
    using KnownFolderPath = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
    const auto known = LookUp<KnownFolderPath>(shell32.get(), "SHGetKnownFolderPath");
    PWSTR path = nullptr;
    if (known == nullptr || FAILED(known(FOLDERID_ProgramData, 0, nullptr, &path))) return {};
    std::wstring folder = path;
    ::CoTaskMemFree(path);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::uint32_t Win32FileSystem::ListFolder(const std::wstring& path, std::vector<std::wstring>& names) {
    std::wstring pattern = path;
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW(pattern.c_str(), &data)));
    if (!search) return ::GetLastError();
    names.clear();
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search.get(), &data));
    const DWORD error = ::GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : error;
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

std::unique_ptr<OutputFile> Win32FileSystem::CreateOutputFile(const std::wstring& path, std::uint32_t& error) {
    HANDLE handle = NullIfInvalid(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle == nullptr) {
        error = ::GetLastError();
        return nullptr;
    }
    error = 0;
    return std::make_unique<Win32OutputFile>(handle);
}

std::uint32_t Win32FileSystem::MoveOver(const std::wstring& from, const std::wstring& to) {
    return Result(::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

std::uint32_t Win32FileSystem::Rename(const std::wstring& from, const std::wstring& to) {
    return Result(::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH));
}

std::uint32_t Win32FileSystem::RemoveFile(const std::wstring& path) { return Result(::DeleteFileW(path.c_str())); }

std::wstring Win32FileSystem::ErrorText(std::uint32_t code) { return SystemErrorText(code); }

} // namespace juv
