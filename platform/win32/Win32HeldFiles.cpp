// The install folder and the tool, held open while the sequence runs; the folder's owner, access
// list and volume, for the logic to judge; and a folder made and held in one step.
#include "platform/win32/Win32Services.h"

#include "platform/ScopeExit.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/UniqueHandle.h"

#include <aclapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace juv {

namespace {

constexpr DWORD ChunkSize = 64 * 1024;

// Full control for administrators and the system, read and run for everyone else, for the
// folder and all that is made in it; nothing inherited from a parent that a user may change,
// such as the Downloads folder.
constexpr wchar_t AdministratorsChangeAccess[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;WD)";

// What the held folder is opened for: looking into it and reading its access list. Others may
// read and write in it, but not rename or delete it.
constexpr DWORD FolderAccessRights = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD FolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD FolderFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// The advapi32 function the access lists need, looked up by name: it is no DLL that Windows
// always takes from its own folder.
struct SecurityApi {
    UniqueModule module = LoadSystemLibrary(L"advapi32.dll");
    decltype(&::GetSecurityInfo) getSecurity = LookUp<decltype(getSecurity)>(module.get(), "GetSecurityInfo");
};

// The native calls that open, make and rename relative to a held folder's handle, from the one
// DLL every process has loaded, and their translation of the native status.
struct NativeApi {
    using CreateFile = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, void*, void*, LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG,
                                     void*, ULONG);
    using SetInformation = LONG(WINAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);
    using StatusToError = ULONG(WINAPI*)(LONG);
    HMODULE module = ::GetModuleHandleW(L"ntdll.dll");
    CreateFile createFile = LookUp<CreateFile>(module, "NtCreateFile");
    SetInformation setInformation = LookUp<SetInformation>(module, "NtSetInformationFile");
    StatusToError toError = LookUp<StatusToError>(module, "RtlNtStatusToDosError");
};

constexpr ULONG ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG RenameInformation = 10;
constexpr ULONG DispositionInformation = 13;

// Opens or makes an entry of the folder held by root, by its own name relative to that handle:
// no path from the top is looked at again, so a link above or a name the system would rewrite
// reaches nothing else.
std::uint32_t OpenRelative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                           ULONG options, void* descriptor, UniqueHandle& opened) {
    const NativeApi api;
    if (!api.createFile || !api.toError) return ERROR_PROC_NOT_FOUND;
    std::wstring buffer = name;
    UNICODE_STRING unicode{static_cast<USHORT>(buffer.size() * sizeof(wchar_t)),
                           static_cast<USHORT>(buffer.size() * sizeof(wchar_t)), buffer.data()};
    OBJECT_ATTRIBUTES attributes{sizeof(attributes), root, &unicode, OBJ_CASE_INSENSITIVE, descriptor, nullptr};
    IO_STATUS_BLOCK status{};
    HANDLE handle = nullptr;
    const LONG result = api.createFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                       FILE_ATTRIBUTE_NORMAL, sharing, disposition,
                                       options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (result < 0) return api.toError(result);
    opened.reset(handle);
    return 0;
}

std::uint32_t OpenInside(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                         ULONG options, void* descriptor, UniqueHandle& opened) {
    // One entry's name, nothing that climbs out or down.
    if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"\\/") != std::wstring::npos)
        return ERROR_INVALID_NAME;
    return OpenRelative(root, name, access, sharing, disposition, options, descriptor, opened);
}

// Renames the open entry to a name in the folder held by root.
std::uint32_t RenameOpen(HANDLE entry, HANDLE root, const std::wstring& newName, bool replace) {
    const NativeApi api;
    if (!api.setInformation || !api.toError) return ERROR_PROC_NOT_FOUND;
    if (newName.empty() || newName.find_first_of(L"\\/") != std::wstring::npos) return ERROR_INVALID_NAME;
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + newName.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace;
    info->RootDirectory = root;
    info->FileNameLength = static_cast<DWORD>(newName.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, newName.data(), info->FileNameLength);
    IO_STATUS_BLOCK status{};
    const LONG result = api.setInformation(entry, &status, info, static_cast<ULONG>(buffer.size()), RenameInformation);
    return result < 0 ? api.toError(result) : 0;
}

bool HandleIsLink(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) return false;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The two well-known accounts that may own and change the folder.
Trustee TrusteeOf(PSID sid) {
    const auto* s = static_cast<const SID*>(sid);
    if (s == nullptr || s->Revision != SID_REVISION) return Trustee::Other;
    static const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (std::memcmp(&s->IdentifierAuthority, &nt, sizeof(nt)) != 0) return Trustee::Other;
    if (s->SubAuthorityCount == 1 && s->SubAuthority[0] == SECURITY_LOCAL_SYSTEM_RID) return Trustee::System;
    if (s->SubAuthorityCount == 2 && s->SubAuthority[0] == SECURITY_BUILTIN_DOMAIN_RID &&
        s->SubAuthority[1] == DOMAIN_ALIAS_RID_ADMINS)
        return Trustee::Administrators;
    // The service that owns Windows' own files: NT SERVICE\TrustedInstaller.
    static const DWORD trustedInstaller[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
    if (s->SubAuthorityCount == 6 && std::equal(trustedInstaller, trustedInstaller + 6, s->SubAuthority))
        return Trustee::TrustedInstaller;
    return Trustee::Other;
}

// Generic rights stand for the file rights they grant.
std::uint32_t FileRights(ACCESS_MASK mask) {
    if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
    if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_READ) mask |= FILE_GENERIC_READ;
    if (mask & GENERIC_EXECUTE) mask |= FILE_GENERIC_EXECUTE;
    return mask & ~(GENERIC_ALL | GENERIC_WRITE | GENERIC_READ | GENERIC_EXECUTE);
}

std::vector<AccessEntry> EntriesOf(const ACL& acl) {
    std::vector<AccessEntry> entries;
    const auto* at = reinterpret_cast<const BYTE*>(&acl) + sizeof(ACL);
    const auto* end = reinterpret_cast<const BYTE*>(&acl) + acl.AclSize;
    for (WORD i = 0; i < acl.AceCount && at + sizeof(ACE_HEADER) <= end; ++i) {
        const auto* header = reinterpret_cast<const ACE_HEADER*>(at);
        if (header->AceSize < sizeof(ACE_HEADER) || at + header->AceSize > end) break;
        AccessEntry entry;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(at);
            entry.allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
            entry.trustee = TrusteeOf(const_cast<DWORD*>(&ace->SidStart));
            entry.rights = FileRights(ace->Mask);
        } else if (header->AceType != SYSTEM_AUDIT_ACE_TYPE && header->AceType != SYSTEM_ALARM_ACE_TYPE) {
            // An entry of a kind not looked into may grant anything to anyone.
            entry.rights = FILE_ALL_ACCESS;
        } else {
            at += header->AceSize;
            continue;
        }
        entries.push_back(entry);
        at += header->AceSize;
    }
    return entries;
}

} // namespace

std::wstring FinalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length);
    }
    // The system's long-path prefix is not shown to anyone, nor passed on to the tool.
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

std::uint32_t FileIdOf(HANDLE handle, FileId& id) {
    // The 128-bit id where the system has it (ReFS needs all of it), else the 64-bit index.
    FILE_ID_INFO info{};
    if (::GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof(info))) {
        id.volume = info.VolumeSerialNumber;
        std::memcpy(id.file.data(), &info.FileId, sizeof(info.FileId));
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION file{};
    if (!::GetFileInformationByHandle(handle, &file)) return ::GetLastError();
    id = FileId{};
    id.volume = file.dwVolumeSerialNumber;
    const std::uint64_t index = (static_cast<std::uint64_t>(file.nFileIndexHigh) << 32) | file.nFileIndexLow;
    std::memcpy(id.file.data(), &index, sizeof(index));
    return 0;
}

std::uint32_t VolumeOf(HANDLE handle, VolumeTraits& volume) {
    DWORD flags = 0;
    if (!::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return ::GetLastError();
    volume.accessLists = (flags & FILE_PERSISTENT_ACLS) != 0;
    // A share, named or behind a drive letter, resolves to its server's name.
    const std::wstring path = FinalPathOf(handle);
    volume.remote = path.rfind(L"\\\\", 0) == 0 ||
                    (path.size() >= 3 && ::GetDriveTypeW(path.substr(0, 3).c_str()) == DRIVE_REMOTE);
    return 0;
}

namespace {

class Win32OutputFile final : public OutputFile {
public:
    explicit Win32OutputFile(HANDLE handle) : handle_(handle) {}

    std::size_t Write(std::span<const std::uint8_t> bytes) override {
        // Large payloads are written in pieces, so memory stays small whatever their size.
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

class Win32HeldFile final : public HeldFile {
public:
    explicit Win32HeldFile(HANDLE handle) : handle_(handle) {}

    bool IsLink() override { return HandleIsLink(handle_.get()); }
    std::uint32_t ReadId(FileId& id) override { return FileIdOf(handle_.get(), id); }

    ContentCheck CompareContent(std::span<const std::uint8_t> bytes) override {
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(handle_.get(), &size)) return ContentCheck::Unreadable;
        if (static_cast<std::uint64_t>(size.QuadPart) != bytes.size()) return ContentCheck::Different;
        if (!::SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) return ContentCheck::Unreadable;
        std::vector<std::uint8_t> buffer(ChunkSize);
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            DWORD read = 0;
            if (!::ReadFile(handle_.get(), buffer.data(), ChunkSize, &read, nullptr)) return ContentCheck::Unreadable;
            if (read == 0 || read > bytes.size() - offset) return ContentCheck::Different;
            if (std::memcmp(buffer.data(), bytes.data() + offset, read) != 0) return ContentCheck::Different;
            offset += read;
        }
        return ContentCheck::Same;
    }

private:
    UniqueHandle handle_;
};

class Win32HeldFolder final : public HeldFolder {
public:
    explicit Win32HeldFolder(HANDLE handle) : handle_(handle) {}

    bool IsLink() override { return HandleIsLink(handle_.get()); }

    std::uint32_t ReadSecurity(FolderSecurity& security) override {
        const SecurityApi api;
        if (!api.getSecurity) return ERROR_PROC_NOT_FOUND;
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (const DWORD error = api.getSecurity(handle_.get(), SE_FILE_OBJECT,
                                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                                nullptr, &dacl, nullptr, &descriptor))
            return error;
        const UniqueLocal release(descriptor);
        security.owner = TrusteeOf(owner);
        security.unrestricted = dacl == nullptr;
        security.entries = dacl ? EntriesOf(*dacl) : std::vector<AccessEntry>{};
        return 0;
    }

    std::uint32_t ReadVolume(VolumeTraits& volume) override { return VolumeOf(handle_.get(), volume); }
    std::uint32_t ReadId(FileId& id) override { return FileIdOf(handle_.get(), id); }

    std::wstring FinalPath() override { return FinalPathOf(handle_.get()); }

    FileAttributes Attributes(const std::wstring& name) override {
        FileAttributes result;
        UniqueHandle entry;
        // Asking for the attributes alone is never refused for sharing: a file another program
        // holds without sharing is still seen.
        result.error = OpenInside(handle_.get(), name, FILE_READ_ATTRIBUTES, ShareAll, FILE_OPEN,
                                  FILE_OPEN_REPARSE_POINT, nullptr, entry);
        if (result.error) return result;
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
            result.error = ::GetLastError();
            return result;
        }
        result.valid = true;
        result.directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        result.link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        return result;
    }

    std::uint32_t List(std::vector<std::wstring>& names) override {
        names.clear();
        // Read through a handle of its own, opened on the held folder itself: a listing is then
        // what is there now, also where a system keeps what a handle listed before (Wine does).
        UniqueHandle folder;
        if (const std::uint32_t error = OpenRelative(handle_.get(), L"", FILE_LIST_DIRECTORY, ShareAll, FILE_OPEN,
                                                     FILE_DIRECTORY_FILE, nullptr, folder))
            return error;
        std::vector<std::uint8_t> buffer(ChunkSize);
        for (FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;; query = FileIdBothDirectoryInfo) {
            if (!::GetFileInformationByHandleEx(folder.get(), query, buffer.data(), ChunkSize)) {
                const DWORD error = ::GetLastError();
                return error == ERROR_NO_MORE_FILES ? 0 : error;
            }
            for (std::size_t at = 0;;) {
                const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
                const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") names.push_back(name);
                if (entry->NextEntryOffset == 0) break;
                at += entry->NextEntryOffset;
            }
        }
    }

    std::unique_ptr<HeldFolder> MakeFolder(const std::wstring& name, std::uint32_t& error) override {
        const UniqueLocal descriptor = AdministratorsChangeDescriptor();
        error = ERROR_INVALID_SECURITY_DESCR;
        if (!descriptor) return nullptr;
        UniqueHandle made;
        error = OpenInside(handle_.get(), name, FolderAccessRights, FolderSharing, FILE_CREATE, FILE_DIRECTORY_FILE,
                           descriptor.get(), made);
        return error ? nullptr : std::make_unique<Win32HeldFolder>(made.release());
    }

    std::unique_ptr<HeldFolder> OpenFolder(const std::wstring& name, std::uint32_t& error) override {
        UniqueHandle opened;
        error = OpenInside(handle_.get(), name, FolderAccessRights, FolderSharing, FILE_OPEN, FILE_OPEN_REPARSE_POINT,
                           nullptr, opened);
        return error ? nullptr : std::make_unique<Win32HeldFolder>(opened.release());
    }

    std::uint32_t RenameEntry(const std::wstring& name, const FileId& id, const std::wstring& newName) override {
        // Opened for the rename alone, the entry itself and not what a link points to; a program
        // that holds it without letting it be moved makes this fail.
        UniqueHandle entry;
        if (const std::uint32_t error = OpenInside(handle_.get(), name, DELETE | FILE_READ_ATTRIBUTES, ShareAll,
                                                   FILE_OPEN, FILE_OPEN_REPARSE_POINT, nullptr, entry))
            return error;
        FileId opened;
        if (FileIdOf(entry.get(), opened) != 0 || !(opened == id)) return ERROR_FILE_NOT_FOUND;
        return RenameOpen(entry.get(), handle_.get(), newName, false);
    }

    std::unique_ptr<HeldFile> HoldFile(const std::wstring& name, std::uint32_t& error) override {
        // Read sharing only: nobody may write, replace, rename or delete it while it is held. The
        // system still starts it, as it opens a program for reading and running only.
        UniqueHandle file;
        error = OpenInside(handle_.get(), name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                           FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SEQUENTIAL_ONLY, nullptr, file);
        return error ? nullptr : std::make_unique<Win32HeldFile>(file.release());
    }

    std::unique_ptr<OutputFile> CreateOutputFile(const std::wstring& name, std::uint32_t& error) override {
        UniqueHandle file;
        error = OpenInside(handle_.get(), name, GENERIC_READ | GENERIC_WRITE, 0, FILE_OVERWRITE_IF,
                           FILE_NON_DIRECTORY_FILE, nullptr, file);
        return error ? nullptr : std::make_unique<Win32OutputFile>(file.release());
    }

    std::uint32_t MoveOver(const std::wstring& from, const std::wstring& to) override {
        UniqueHandle file;
        if (const std::uint32_t error = OpenInside(handle_.get(), from, DELETE, ShareAll, FILE_OPEN,
                                                   FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, nullptr, file))
            return error;
        return RenameOpen(file.get(), handle_.get(), to, true);
    }

    std::uint32_t RemoveFile(const std::wstring& name) override {
        const NativeApi api;
        if (!api.setInformation || !api.toError) return ERROR_PROC_NOT_FOUND;
        UniqueHandle file;
        if (const std::uint32_t error = OpenInside(handle_.get(), name, DELETE, ShareAll, FILE_OPEN,
                                                   FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, nullptr, file))
            return error;
        BOOLEAN remove = TRUE;
        IO_STATUS_BLOCK status{};
        const LONG result = api.setInformation(file.get(), &status, &remove, sizeof(remove), DispositionInformation);
        return result < 0 ? api.toError(result) : 0;
    }

private:
    UniqueHandle handle_;
};

} // namespace

UniqueLocal AdministratorsChangeDescriptor() {
    return SecurityDescriptorFromText((std::wstring(L"O:BA") + AdministratorsChangeAccess).c_str());
}

std::unique_ptr<HeldFolder> Win32FileSystem::HoldFolder(const std::wstring& path, std::uint32_t& error) {
    // The folder the path names as it stands, links on the way followed: the long-path form
    // keeps the system from rewriting the name first (a trailing dot would go, and with it the
    // folder meant).
    std::wstring exact = path;
    if (exact.size() >= 3 && exact[1] == L':' && exact[2] == L'\\')
        exact = L"\\\\?\\" + exact;
    else if (exact.rfind(L"\\\\", 0) == 0 && exact.rfind(L"\\\\?\\", 0) != 0)
        exact = L"\\\\?\\UNC\\" + exact.substr(2);
    HANDLE handle = NullIfInvalid(::CreateFileW(exact.c_str(), FolderAccessRights, FolderSharing, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    error = handle ? 0 : ::GetLastError();
    if (!handle) return nullptr;
    return std::make_unique<Win32HeldFolder>(handle);
}

} // namespace juv
