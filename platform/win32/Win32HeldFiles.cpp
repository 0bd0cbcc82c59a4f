// The install folder and the tool, held open while the sequence runs, and the folder's access
// list: read, judged by the logic, and taken over where others could change it.
#include "platform/win32/Win32Services.h"

#include "platform/ScopeExit.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/UniqueHandle.h"

#include <aclapi.h>

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

// The advapi32 functions the access lists need, looked up by name: it is no DLL that Windows
// always takes from its own folder.
struct SecurityApi {
    UniqueModule module = LoadSystemLibrary(L"advapi32.dll");
    decltype(&::GetSecurityDescriptorOwner) descriptorOwner =
        LookUp<decltype(descriptorOwner)>(module.get(), "GetSecurityDescriptorOwner");
    decltype(&::GetSecurityDescriptorDacl) descriptorDacl =
        LookUp<decltype(descriptorDacl)>(module.get(), "GetSecurityDescriptorDacl");
    decltype(&::GetSecurityInfo) getSecurity = LookUp<decltype(getSecurity)>(module.get(), "GetSecurityInfo");
    decltype(&::SetSecurityInfo) setSecurity = LookUp<decltype(setSecurity)>(module.get(), "SetSecurityInfo");
    decltype(&::TreeResetNamedSecurityInfoW) treeReset =
        LookUp<decltype(treeReset)>(module.get(), "TreeResetNamedSecurityInfoW");
    decltype(&::OpenProcessToken) openToken = LookUp<decltype(openToken)>(module.get(), "OpenProcessToken");
    decltype(&::LookupPrivilegeValueW) privilegeValue =
        LookUp<decltype(privilegeValue)>(module.get(), "LookupPrivilegeValueW");
    decltype(&::AdjustTokenPrivileges) adjustPrivileges =
        LookUp<decltype(adjustPrivileges)>(module.get(), "AdjustTokenPrivileges");

    bool Complete() const {
        return descriptorOwner && descriptorDacl && getSecurity && setSecurity && treeReset &&
               openToken && privilegeValue && adjustPrivileges;
    }
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

// Enables the take-ownership privilege while it lives, and puts back what was there before.
class TakeOwnershipPrivilege {
public:
    explicit TakeOwnershipPrivilege(const SecurityApi& api) : api_(api) {
        HANDLE token = nullptr;
        if (!api.openToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
        token_.reset(token);
        TOKEN_PRIVILEGES wanted{};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!api.privilegeValue(nullptr, SE_TAKE_OWNERSHIP_NAME, &wanted.Privileges[0].Luid)) return;
        DWORD length = 0;
        enabled_ = api.adjustPrivileges(token_.get(), FALSE, &wanted, sizeof(previous_), &previous_, &length) &&
                   ::GetLastError() == ERROR_SUCCESS;
    }
    ~TakeOwnershipPrivilege() {
        if (enabled_) api_.adjustPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    }
    TakeOwnershipPrivilege(const TakeOwnershipPrivilege&) = delete;
    TakeOwnershipPrivilege& operator=(const TakeOwnershipPrivilege&) = delete;

private:
    const SecurityApi& api_;
    UniqueHandle token_;
    TOKEN_PRIVILEGES previous_{};
    bool enabled_ = false;
};

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
    Win32HeldFolder(HANDLE handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}

    bool IsLink() override { return HandleIsLink(handle_.get()); }

    std::uint32_t ReadSecurity(FolderSecurity& security) override {
        if (!api_.Complete()) return ERROR_PROC_NOT_FOUND;
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (const DWORD error = api_.getSecurity(handle_.get(), SE_FILE_OBJECT,
                                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                                 nullptr, &dacl, nullptr, &descriptor))
            return error;
        const UniqueLocal release(descriptor);
        security.owner = TrusteeOf(owner);
        security.unrestricted = dacl == nullptr;
        security.entries = dacl ? EntriesOf(*dacl) : std::vector<AccessEntry>{};
        return 0;
    }

    std::uint32_t TakeOver() override {
        if (!api_.Complete()) return ERROR_PROC_NOT_FOUND;
        const UniqueLocal descriptor = TakeOverDescriptor();
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        if (!descriptor || !api_.descriptorOwner(descriptor.get(), &owner, &defaulted) ||
            !api_.descriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || owner == nullptr || dacl == nullptr)
            return ERROR_INVALID_SECURITY_DESCR;
        constexpr SECURITY_INFORMATION everything =
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

        // On the folder that is held, through a second handle to the very same open folder, never
        // by its path. A folder whose list shuts the administrators out needs the privilege to
        // take its ownership; as its owner they may then set the list.
        std::optional<TakeOwnershipPrivilege> privilege;
        UniqueHandle writable = Reopen(WRITE_OWNER | WRITE_DAC | READ_CONTROL);
        if (!writable && ::GetLastError() == ERROR_ACCESS_DENIED) {
            privilege.emplace(api_);
            UniqueHandle owning = Reopen(WRITE_OWNER);
            if (!owning) return ::GetLastError();
            if (const DWORD error =
                    api_.setSecurity(owning.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                                     nullptr))
                return error;
            writable = Reopen(WRITE_DAC | READ_CONTROL);
        }
        if (!writable) return ::GetLastError();
        if (const DWORD error = api_.setSecurity(writable.get(), SE_FILE_OBJECT, everything, owner, nullptr, dacl,
                                                 nullptr))
            return error;

        // Everything inside: the administrators' own, its own entries dropped, so that all of it
        // inherits just the folder's list. The held folder cannot be renamed away meanwhile.
        const auto resetInside = [&] {
            return api_.treeReset(path_.data(), SE_FILE_OBJECT, everything, owner, nullptr, dacl, nullptr, FALSE,
                                  nullptr, ProgressInvokeNever, nullptr);
        };
        DWORD error = resetInside();
        if (error == ERROR_ACCESS_DENIED && !privilege) {
            privilege.emplace(api_);
            error = resetInside();
        }
        return error;
    }

private:
    UniqueHandle Reopen(DWORD access) {
        return UniqueHandle(NullIfInvalid(::ReOpenFile(handle_.get(), access, FolderSharing, FolderFlags)));
    }
    UniqueHandle handle_;
    std::wstring path_;
    SecurityApi api_;
};

} // namespace

UniqueLocal AdministratorsChangeDescriptor() { return SecurityDescriptorFromText(AdministratorsChangeAccess); }

UniqueLocal TakeOverDescriptor() {
    return SecurityDescriptorFromText((std::wstring(L"O:BA") + AdministratorsChangeAccess).c_str());
}

std::unique_ptr<HeldFolder> Win32FileSystem::HoldFolder(const std::wstring& path, std::uint32_t& error) {
    HANDLE handle = NullIfInvalid(
        ::CreateFileW(path.c_str(), FolderAccessRights, FolderSharing, nullptr, OPEN_EXISTING, FolderFlags, nullptr));
    error = handle ? 0 : ::GetLastError();
    if (!handle) return nullptr;
    return std::make_unique<Win32HeldFolder>(handle, path);
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
