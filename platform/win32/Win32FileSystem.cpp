#include "platform/win32/Win32Services.h"

#include "platform/win32/SystemLibrary.h"
#include "platform/win32/UniqueHandle.h"

#include <sddl.h>

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

UniqueLocal AdministratorsChangeDescriptor() {
    // Full control for administrators and the system, read and run for everyone else, for the
    // folder and all that will be made in it; nothing inherited from a parent that a user may
    // change, such as the Downloads folder.
    const UniqueModule advapi = LoadSystemLibrary(L"advapi32.dll");
    using Convert = BOOL(WINAPI*)(const wchar_t*, DWORD, PSECURITY_DESCRIPTOR*, ULONG*);
    const auto convert = LookUp<Convert>(advapi.get(), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (convert == nullptr ||
        !convert(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return UniqueLocal();
    return UniqueLocal(descriptor);
}

std::uint32_t Win32FileSystem::MakeDirectory(const std::wstring& path, FolderAccess access) {
    if (access == FolderAccess::AdministratorsChange) {
        if (const UniqueLocal descriptor = AdministratorsChangeDescriptor()) {
            SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
            if (::CreateDirectoryW(path.c_str(), &attributes)) return 0;
            const DWORD error = ::GetLastError();
            // Only a folder that is there already or has no parent is a failure of its own.
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_PATH_NOT_FOUND) return error;
        }
    }
    return Result(::CreateDirectoryW(path.c_str(), nullptr));
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

ContentCheck Win32FileSystem::CompareContent(const std::wstring& path, std::span<const std::uint8_t> bytes) {
    UniqueHandle file(NullIfInvalid(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
    if (!file) return ContentCheck::Unreadable;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return ContentCheck::Unreadable;
    if (static_cast<std::uint64_t>(size.QuadPart) != bytes.size()) return ContentCheck::Different;
    std::vector<std::uint8_t> buffer(ChunkSize);
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), ChunkSize, &read, nullptr)) return ContentCheck::Unreadable;
        if (read == 0 || read > bytes.size() - offset) return ContentCheck::Different;
        if (std::memcmp(buffer.data(), bytes.data() + offset, read) != 0) return ContentCheck::Different;
        offset += read;
    }
    return ContentCheck::Same;
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

std::uint32_t Win32FileSystem::RemoveFile(const std::wstring& path) { return Result(::DeleteFileW(path.c_str())); }

std::wstring Win32FileSystem::ErrorText(std::uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const UniqueLocal release(text);
    return length ? std::wstring(text, length) : std::wstring();
}

} // namespace juv
