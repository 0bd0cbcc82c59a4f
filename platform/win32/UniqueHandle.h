#pragma once

#include <windows.h>

#include <utility>

namespace juv {

// Owns one system handle and closes it exactly once; the close function is part of the type.
// The empty value T{} means "nothing owned".
template <typename T, auto Close>
class UniqueAny {
public:
    UniqueAny() = default;
    explicit UniqueAny(T value) : value_(value) {}
    ~UniqueAny() { reset(); }

    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(std::exchange(other.value_, T{})) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, T{}));
        return *this;
    }

    void reset(T value = T{}) {
        if (value_ != T{}) Close(value_);
        value_ = value;
    }
    T get() const { return value_; }
    // Hands the value over to another owner.
    T release() { return std::exchange(value_, T{}); }
    explicit operator bool() const { return value_ != T{}; }

private:
    T value_ = T{};
};

using UniqueHandle = UniqueAny<HANDLE, &::CloseHandle>;
using UniqueFindHandle = UniqueAny<HANDLE, &::FindClose>;
using UniqueFont = UniqueAny<HFONT, &::DeleteObject>;
using UniqueLocal = UniqueAny<HLOCAL, &::LocalFree>;

template <typename Interface>
void ReleaseCom(Interface* object) {
    object->Release();
}
template <typename Interface>
using UniqueComPtr = UniqueAny<Interface*, &ReleaseCom<Interface>>;

// Some calls report failure as INVALID_HANDLE_VALUE rather than null; owners want one empty value.
inline HANDLE NullIfInvalid(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

} // namespace juv
