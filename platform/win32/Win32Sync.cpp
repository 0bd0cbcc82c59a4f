#include "platform/win32/Win32Services.h"

#include "platform/win32/UniqueHandle.h"

namespace juv {

namespace {

class HeldMutex final : public HeldObject {
public:
    explicit HeldMutex(HANDLE handle) : handle_(handle) {}

private:
    UniqueHandle handle_;
};

} // namespace

std::unique_ptr<HeldObject> Win32Sync::CreateNamedMutex(const std::wstring& name, bool& existed) {
    HANDLE handle = ::CreateMutexW(nullptr, FALSE, name.c_str());
    existed = handle != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (handle == nullptr) return nullptr;
    return std::make_unique<HeldMutex>(handle);
}

} // namespace juv
