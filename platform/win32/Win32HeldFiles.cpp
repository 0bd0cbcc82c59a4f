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

// The native call that makes a folder and opens it in one step, from the one DLL every process
// has loaded, and its translation of the native status.
struct NativeApi {
    using CreateFile = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, void*, void*, LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG,
                                     void*, ULONG);
    using StatusToError = ULONG(WINAPI*)(LONG);
    HMODULE module = ::GetModuleHandleW(L"ntdll.dll");
    CreateFile createFile = LookUp<CreateFile>(module, "NtCreateFile");
    StatusToError toError = LookUp<StatusToError>(module, "RtlNtStatusToDosError");
};

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

class Win32HeldFile final : public HeldFile {
public:
    explicit Win32HeldFile(HANDLE handle) : handle_(handle) {}

    bool IsLink() override { return HandleIsLink(handle_.get()); }

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

    std::wstring FinalPath() override { return FinalPathOf(handle_.get()); }

private:
    UniqueHandle handle_;
};

} // namespace

UniqueLocal AdministratorsChangeDescriptor() {
    return SecurityDescriptorFromText((std::wstring(L"O:BA") + AdministratorsChangeAccess).c_str());
}

std::unique_ptr<HeldFolder> Win32FileSystem::HoldFolder(const std::wstring& path, std::uint32_t& error) {
    HANDLE handle = NullIfInvalid(
        ::CreateFileW(path.c_str(), FolderAccessRights, FolderSharing, nullptr, OPEN_EXISTING, FolderFlags, nullptr));
    error = handle ? 0 : ::GetLastError();
    if (!handle) return nullptr;
    return std::make_unique<Win32HeldFolder>(handle);
}

std::unique_ptr<HeldFolder> Win32FileSystem::MakeHeldFolder(const std::wstring& path, std::uint32_t& error) {
    const NativeApi api;
    const UniqueLocal descriptor = AdministratorsChangeDescriptor();
    error = ERROR_PROC_NOT_FOUND;
    if (!api.createFile || !api.toError) return nullptr;
    error = ERROR_INVALID_SECURITY_DESCR;
    if (!descriptor) return nullptr;
    // The native call takes the path in the kernel's own form.
    std::wstring name = path;
    while (name.size() > 3 && name.back() == L'\\') name.pop_back();
    if (name.rfind(L"\\\\?\\", 0) == 0)
        name = L"\\??\\" + name.substr(4);
    else if (name.rfind(L"\\\\", 0) == 0)
        name = L"\\??\\UNC\\" + name.substr(2);
    else
        name = L"\\??\\" + name;
    UNICODE_STRING unicode{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                           static_cast<USHORT>(name.size() * sizeof(wchar_t)), name.data()};
    OBJECT_ATTRIBUTES attributes{sizeof(attributes), nullptr, &unicode, OBJ_CASE_INSENSITIVE, descriptor.get(),
                                 nullptr};
    IO_STATUS_BLOCK status{};
    HANDLE handle = nullptr;
    const LONG result = api.createFile(&handle, FolderAccessRights, &attributes, &status, nullptr,
                                       FILE_ATTRIBUTE_NORMAL, FolderSharing, FILE_CREATE,
                                       FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    error = result >= 0 ? 0 : api.toError(result);
    if (result < 0) return nullptr;
    return std::make_unique<Win32HeldFolder>(handle);
}

std::unique_ptr<HeldFile> Win32FileSystem::HoldFile(const std::wstring& path, std::uint32_t& error) {
    // Read sharing only: nobody may write, replace, rename or delete it while it is held. The
    // system still starts it, as it opens a program for reading and running only.
    HANDLE handle = NullIfInvalid(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    error = handle ? 0 : ::GetLastError();
    if (!handle) return nullptr;
    return std::make_unique<Win32HeldFile>(handle);
}

} // namespace juv
