#include "platform/win32/Win32Services.h"

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

// Released before its handle closes, on the thread that took it, which is the only one here.
class OwnedMutex final : public HeldObject {
public:
    explicit OwnedMutex(UniqueHandle handle) : handle_(std::move(handle)) {}
    ~OwnedMutex() override { ::ReleaseMutex(handle_.get()); }

private:
    UniqueHandle handle_;
};

// Full access for administrators and the system account, nobody else: an installer that a
// deployment engine runs as the system account in session 0 and one a technician runs elevated
// in a desktop session must both be able to open the other's mutex.
constexpr wchar_t AdministratorsAndSystem[] = L"D:(A;;GA;;;BA)(A;;GA;;;SY)";

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
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    // An existing mutex keeps the access list its maker gave it; this one only applies when
    // the mutex is made here.
    UniqueHandle handle(::CreateMutexW(&attributes, FALSE, name.c_str()));
    if (!handle) return nullptr;
    switch (::WaitForSingleObject(handle.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its owner ended without releasing it: nothing of its install runs any more
        ownership = MutexOwnership::Owned;
        return std::make_unique<OwnedMutex>(std::move(handle));
    case WAIT_TIMEOUT:
        ownership = MutexOwnership::OwnedElsewhere;
        return nullptr;
    default:
        return nullptr;
    }
}

} // namespace juv
