#include "tests/win32/ProgramDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

namespace juv::test {

namespace {

std::wstring TextOf(HWND window) {
    if (window == nullptr) return {};
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return text;
}

} // namespace

namespace {

struct WindowSearch {
    DWORD processId;
    DWORD excluded;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    const bool process = search.processId != 0 ? owner == search.processId : owner != search.excluded;
    if (process && ::lstrcmpiW(name, search.className) == 0) search.found.push_back(window);
    return TRUE;
}

} // namespace

std::vector<HWND> WindowsOf(DWORD processId, const wchar_t* className, DWORD excluded) {
    WindowSearch search{processId, excluded, className, {}};
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

RunningProgram::RunningProgram(const std::wstring& exe, const std::wstring& arguments) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        throw std::runtime_error("cannot start the installer");
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    id_ = info.dwProcessId;
}

RunningProgram::~RunningProgram() {
    if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 99);
        ::WaitForSingleObject(process_.get(), 10000);
    }
}

HWND RunningProgram::FindVisibleWindow(const wchar_t* className) {
    for (HWND w : WindowsOf(id_, className))
        if (::IsWindowVisible(w)) return window_ = w;
    return nullptr;
}

HWND RunningProgram::WaitForWindow(DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    do {
        if (HWND w = FindVisibleWindow()) return w;
        ::Sleep(10);
    } while (::GetTickCount() - start < timeoutMs);
    return nullptr;
}

HWND RunningProgram::Label() const { return ::FindWindowExW(window_, nullptr, L"Static", nullptr); }
HWND RunningProgram::Button() const { return ::FindWindowExW(window_, nullptr, L"Button", nullptr); }
HWND RunningProgram::StatusBar() const { return ::FindWindowExW(window_, nullptr, STATUSCLASSNAMEW, nullptr); }

std::wstring RunningProgram::LabelText() const { return TextOf(Label()); }

std::wstring RunningProgram::StatusText() const {
    const HWND bar = StatusBar();
    if (bar == nullptr) return {};
    std::wstring text(1024, L'\0');
    DWORD_PTR length = 0;
    // An answer is wanted, even from a window Windows might count as hung: that is for
    // IsHungAppWindow to tell.
    if (!::SendMessageTimeoutW(bar, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, 5000,
                               &length))
        return L"<no answer>";
    text.resize(std::min<std::size_t>(length, text.size()));
    return text;
}

bool RunningProgram::WaitForLabel(const std::wstring& text, DWORD timeoutMs) const {
    const DWORD start = ::GetTickCount();
    do {
        if (LabelText() == text) return true;
        ::Sleep(20);
    } while (::GetTickCount() - start < timeoutMs);
    return false;
}

bool RunningProgram::WaitForLabelWatchingHung(const std::wstring& text, int& hungPolls, DWORD timeoutMs) const {
    hungPolls = 0;
    const DWORD start = ::GetTickCount();
    do {
        // Read without a message: another process's window text comes from the system.
        if (LabelText() == text) return true;
        hungPolls += ::IsHungAppWindow(window_) ? 1 : 0;
        ::Sleep(25);
    } while (::GetTickCount() - start < timeoutMs);
    return false;
}

HWND RunningProgram::WaitForBox(const std::wstring& caption, DWORD timeoutMs) const {
    const DWORD start = ::GetTickCount();
    do {
        for (HWND box : WindowsOf(id_, L"#32770"))
            if (::IsWindowVisible(box) && TextOf(box) == caption) return box;
        ::Sleep(20);
    } while (::GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::wstring RunningProgram::BoxText(HWND box) {
    // A message box keeps its text in the static control with the id 0xFFFF.
    return TextOf(::GetDlgItem(box, 0xFFFF));
}

bool RunningProgram::BoxHasIcon(HWND box) {
    for (HWND child = ::FindWindowExW(box, nullptr, L"Static", nullptr); child != nullptr;
         child = ::FindWindowExW(box, child, L"Static", nullptr))
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ::SendMessageW(child, STM_GETICON, 0, 0))
            return true;
    return false;
}

void RunningProgram::Confirm(HWND box) { ::PostMessageW(box, WM_COMMAND, IDOK, 0); }

void RunningProgram::Close() const { ::PostMessageW(window_, WM_CLOSE, 0, 0); }

namespace {

double NowMs() {
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

} // namespace

bool AnswerWatch::ToolRuns() const { return ::GetFileAttributesW(marker_.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool AnswerWatch::Sample(HWND window) {
    const bool runBefore = ToolRuns();
    if (!runBefore) runSeen_ = 0;
    if (runBefore && runSeen_ == 0) runSeen_ = NowMs();
    const double sent = NowMs();
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer)) ++unanswered;
    const double took = NowMs() - sent;
    worstOverallMs = std::max(worstOverallMs, took);
    if (!runBefore || !ToolRuns() || sent - runSeen_ < 300) return false;
    ++samplesInRuns;
    worstInRunsMs = std::max(worstInRunsMs, took);
    return true;
}

bool RunningProgram::WaitForExit(DWORD timeoutMs, DWORD& exitCode) const {
    if (::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    ::GetExitCodeProcess(process_.get(), &exitCode);
    return true;
}

} // namespace juv::test
