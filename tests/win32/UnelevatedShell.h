#pragma once

// Test builds only. Wine gives every process administrator rights, so the installer built for
// the end-to-end tests can be told to behave as if it had none: JUV_SIMULATE_UNELEVATED=1 makes
// IsUserAnAdmin answer false. The variable is removed at once, so the instance it relaunches
// through "runas" has its rights again, as an elevated instance would.
#include "platform/win32/Win32Services.h"

#include <windows.h>

namespace juv::test {

class UnelevatedShell final : public ShellService {
public:
    UnelevatedShell() {
        wchar_t value[8] = {};
        unelevated_ = ::GetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", value, 8) == 1 && value[0] == L'1';
        ::SetEnvironmentVariableW(L"JUV_SIMULATE_UNELEVATED", nullptr);
    }
    bool IsUserAnAdmin() override { return !unelevated_ && real_.IsUserAnAdmin(); }
    ShellExecuteResult Execute(const ShellExecuteRequest& request) override { return real_.Execute(request); }

private:
    Win32Shell real_;
    bool unelevated_ = false;
};

} // namespace juv::test
