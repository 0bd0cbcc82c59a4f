#pragma once

#include <utility>

namespace juv {

// Runs a cleanup when the scope is left, on every path, exceptions included.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (active_) f_();
    }
    void Release() { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

} // namespace juv
