#include "platform/win32/Win32Services.h"

#include "platform/win32/UniqueHandle.h"

namespace juv {

namespace {

using UniqueResource = UniqueAny<HGLOBAL, &::FreeResource>;

class LoadedResource final : public Resource {
public:
    LoadedResource(HGLOBAL handle, const void* data, DWORD size)
        : handle_(handle), bytes_(static_cast<const std::uint8_t*>(data), size) {}

    std::span<const std::uint8_t> Bytes() const override { return bytes_; }

private:
    UniqueResource handle_;
    std::span<const std::uint8_t> bytes_;
};

} // namespace

std::unique_ptr<Resource> Win32Resources::FindRcData(const std::wstring& name) {
    HRSRC info = ::FindResourceW(module_, name.c_str(), MAKEINTRESOURCEW(10));
    if (info == nullptr) return nullptr;
    HGLOBAL handle = ::LoadResource(module_, info);
    if (handle == nullptr) return nullptr;
    const DWORD size = ::SizeofResource(module_, info);
    const void* data = ::LockResource(handle);
    if (data == nullptr && size != 0) {
        UniqueResource release(handle);
        return nullptr;
    }
    return std::make_unique<LoadedResource>(handle, data, size);
}

} // namespace juv
