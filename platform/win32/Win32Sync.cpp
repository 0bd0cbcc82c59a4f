#include "platform/win32/Win32Services.h"

#include "platform/ObjectNamespace.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/UniqueHandle.h"

namespace juv {

namespace {

class HeldMutex final : public HeldObject {
public:
    explicit HeldMutex(HANDLE handle) : handle_(handle) {}

private:
    UniqueHandle handle_;
};

void CloseNamespace(HANDLE space) { ::ClosePrivateNamespace(space, 0); }
void DeleteBoundary(HANDLE boundary) { ::DeleteBoundaryDescriptor(boundary); }
using UniqueNamespace = UniqueAny<HANDLE, &CloseNamespace>;
using UniqueBoundary = UniqueAny<HANDLE, &DeleteBoundary>;

// Full access for administrators and the system account, nobody else: an installer that a
// deployment engine runs as the system account in session 0 and one a technician runs elevated
// in a desktop session must both be able to open the other's namespace and mutex.
constexpr wchar_t AdministratorsAndSystem[] = L"D:(A;;GA;;;BA)(A;;GA;;;SY)";
constexpr wchar_t NamespaceName[] = L"JUV-LibUSB-driver-installer";

// The namespace whose boundary is the Administrators group.
class AdministratorsNamespace final : public ObjectNamespace {
public:
    explicit AdministratorsNamespace(PSECURITY_DESCRIPTOR descriptor) : descriptor_(descriptor) {
        // Some systems (Wine) have no private namespaces and make no boundary either.
        boundary_.reset(::CreateBoundaryDescriptorW(NamespaceName, 0));
        // BUILTIN\\Administrators, S-1-5-32-544, written out: the call that makes it lives in a
        // DLL the program does not import.
        struct {
            SID sid;
            DWORD second;
        } administrators{{SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID}}, DOMAIN_ALIAS_RID_ADMINS};
        HANDLE boundary = boundary_.get();
        added_ = boundary_ && ::AddSIDToBoundaryDescriptor(&boundary, &administrators.sid);
        // Adding may move the descriptor; the new one is then the one to delete.
        if (boundary != boundary_.get()) {
            boundary_.release();
            boundary_.reset(boundary);
        }
    }

    Entry Make() override {
        if (!boundary_) return Entry::Unsupported;
        if (!added_) return Entry::Failed;
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor_, FALSE};
        space_.reset(::CreatePrivateNamespaceW(&attributes, boundary_.get(), NamespaceName));
        if (space_) return Entry::Made;
        return ::GetLastError() == ERROR_ALREADY_EXISTS ? Entry::Exists : Entry::Failed;
    }

    Entry Open() override {
        space_.reset(::OpenPrivateNamespaceW(boundary_.get(), NamespaceName));
        if (space_) return Entry::Opened;
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NOT_FOUND
                   ? Entry::Gone
                   : Entry::Failed;
    }

    UniqueNamespace Release() { return std::move(space_); }

private:
    PSECURITY_DESCRIPTOR descriptor_;
    UniqueBoundary boundary_;
    bool added_ = false;
    UniqueNamespace space_;
};

// Released before its handle closes, on the thread that took it, which is the only one here;
// the namespace it was named in is held as long as it is.
class OwnedMutex final : public HeldObject {
public:
    OwnedMutex(UniqueNamespace space, UniqueHandle handle) : space_(std::move(space)), handle_(std::move(handle)) {}
    ~OwnedMutex() override { ::ReleaseMutex(handle_.get()); }

private:
    UniqueNamespace space_;
    UniqueHandle handle_;
};

} // namespace

std::unique_ptr<HeldObject> Win32Sync::CreateNamedMutex(const std::wstring& name) {
    HANDLE handle = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (handle == nullptr) return nullptr;
    return std::make_unique<HeldMutex>(handle);
}

std::unique_ptr<HeldObject> Win32Sync::OwnSharedMutex(const std::wstring& name, MutexOwnership& ownership) {
    ownership = MutexOwnership::Unavailable;
    const UniqueLocal descriptor = SecurityDescriptorFromText(AdministratorsAndSystem);
    if (!descriptor) return nullptr;
    AdministratorsNamespace space(descriptor.get());
    std::wstring fullName;
    switch (EnterNamespace(space)) {
    case ObjectNamespace::Entry::Made:
    case ObjectNamespace::Entry::Opened: fullName = std::wstring(NamespaceName) + L"\\" + name; break;
    // Only where the system has none: every session's installers still meet there.
    case ObjectNamespace::Entry::Unsupported: fullName = L"Global\\" + name; break;
    default: return nullptr;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    UniqueHandle handle(::CreateMutexW(&attributes, FALSE, fullName.c_str()));
    if (!handle) return nullptr;
    switch (::WaitForSingleObject(handle.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its owner ended without releasing it: nothing of its install runs any more
        ownership = MutexOwnership::Owned;
        return std::make_unique<OwnedMutex>(space.Release(), std::move(handle));
    case WAIT_TIMEOUT:
        ownership = MutexOwnership::OwnedElsewhere;
        return nullptr;
    default:
        return nullptr;
    }
}

} // namespace juv
