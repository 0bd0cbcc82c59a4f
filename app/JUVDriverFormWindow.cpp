#include "app/JUVDriverFormWindow.h"

#include "platform/Error.h"
#include "platform/win32/SystemLibrary.h"

#include <commctrl.h>

namespace juv {

namespace {

constexpr wchar_t WindowClassName[] = L"TJUVDriverForm";
constexpr wchar_t Caption[] = L"JUV LibUSB driver installer";
constexpr int ClientWidth = 728;
constexpr int ClientHeight = 364;
constexpr UINT_PTR StartTimerId = 1;
constexpr UINT StartTimerInterval = 1000;
constexpr int Button1Id = 1;
constexpr int StatusBar1Id = 2;
constexpr int Label1Id = 3;
constexpr wchar_t InstallingReason[] = L"Installing the JUV VCOM driver";

UniqueFont Tahoma(int pixelHeight) {
    return UniqueFont(::CreateFontW(-pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
}

HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, int left, int top, int width,
                 int height, HWND parent, int id, HINSTANCE instance) {
    return ::CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, left, top, width, height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

// Raised where the window cannot come into being, with the system's reason; the code is taken
// first, before any other call can overwrite it.
[[noreturn]] void RaiseCannotCreate(const wchar_t* what) {
    const DWORD code = ::GetLastError();
    std::wstring message = std::wstring(L"Cannot create the ") + what;
    const std::wstring reason = SystemErrorText(code);
    if (code != 0 && !reason.empty()) message += L": " + reason;
    throw Error(message, code);
}

} // namespace

JUVDriverFormWindow::JUVDriverFormWindow(HINSTANCE instance, const CommandLineService& commandLine, int showCommand,
                                         bool visible)
    : instance_(instance), commandLine_(commandLine), showCommand_(showCommand), visible_(visible) {}

JUVDriverFormWindow::~JUVDriverFormWindow() {
    if (window_ != nullptr) ::DestroyWindow(window_);
}

void JUVDriverFormWindow::Attach(TJUVDriverForm& form, UserInterface& ui) {
    form_ = &form;
    ui_ = &ui;
}

void JUVDriverFormWindow::Create() {

    // The window has no icon of its own: title bar and taskbar button show the program's icon.
    HICON icon = ::LoadIconW(instance_, L"MAINICON");
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &JUVDriverFormWindow::WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icon != nullptr ? icon : ::LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WindowClassName;
    ::RegisterClassExW(&windowClass);

    // The background is never painted over the controls, which draw themselves.
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame{0, 0, ClientWidth, ClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    // A busy terminal server can run out of desktop heap, or the process out of window handles.
    ::SetLastError(0);
    if (::CreateWindowExW(0, WindowClassName, Caption, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                          frame.bottom - frame.top, nullptr, nullptr, instance_, this) == nullptr)
        RaiseCannotCreate(L"main window");

    windowFont_ = Tahoma(11);
    labelFont_ = Tahoma(21);
    buttonFont_ = Tahoma(16);
    ::SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_.get()), FALSE);

    Label1 = CreateChild(L"STATIC", L"Initializing...", SS_LEFT | SS_NOPREFIX, 24, 16, 114, 25, window_, Label1Id,
                         instance_);
    ::SendMessageW(Label1, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont_.get()), FALSE);
    SetLabelText(L"Initializing...");

    Button1 = CreateChild(L"BUTTON", L" Install Driver for JUV or QX4530", WS_TABSTOP | BS_PUSHBUTTON, 24, 112, 481,
                          105, window_, Button1Id, instance_);
    ::SendMessageW(Button1, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
    // Shown in every instance; an elevated one disables the button instead.
    ::SendMessageW(Button1, BCM_SETSHIELD, 0, TRUE);

    StatusBar1 = CreateChild(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, 0, 0, 0, 0, window_, StatusBar1Id, instance_);
    ::SendMessageW(StatusBar1, SB_SIMPLE, TRUE, 0);
    SetStatusText(L"TEST");

    // Armed with the design, so its second runs from here and not from when the window shows.
    Timer1 = ::SetTimer(window_, StartTimerId, StartTimerInterval, nullptr);
    if (Timer1 == 0) RaiseCannotCreate(L"start timer");

    // The shell announces a new taskbar button with this message; an elevated window only hears
    // it when it lets it in. Looked up by name: older systems have no such filter and need none.
    taskbarButtonCreated_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    using FilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    const auto allow = LookUp<FilterFunction>(::GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx");
    if (allow != nullptr && taskbarButtonCreated_ != 0 && window_ != nullptr)
        allow(window_, taskbarButtonCreated_, MSGFLT_ALLOW, nullptr);
}

void JUVDriverFormWindow::RunCreateHandler() {
    Guarded([this] { form_->FormCreate(); });
}

void JUVDriverFormWindow::RunMessageLoop() {
    if (window_ != nullptr && visible_) {
        int show = SW_SHOWNORMAL;
        if (showCommand_ == SW_SHOWMAXIMIZED) show = SW_SHOWMAXIMIZED;
        if (showCommand_ == SW_SHOWMINNOACTIVE) show = SW_SHOWMINNOACTIVE;
        // Not painted here: the loop below paints the window before anything else it takes
        // from the queue, the start tick included, and meanwhile answers what other programs
        // send, instead of keeping them waiting for the paint.
        ::ShowWindow(window_, show);
        if (::IsWindowEnabled(Button1)) ::SetFocus(Button1);
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window_ != nullptr && ::IsDialogMessageW(window_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

template <typename Handler>
void JUVDriverFormWindow::Guarded(Handler handler) {
    try {
        handler();
    } catch (...) {
        try {
            ShowException(*ui_, commandLine_, std::current_exception());
        } catch (...) {
            // Nothing is left to tell the user with; the message loop goes on regardless.
        }
    }
}

LRESULT CALLBACK JUVDriverFormWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<JUVDriverFormWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<JUVDriverFormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->Label1 = self->Button1 = self->StatusBar1 = nullptr;
    }
    return result;
}

LRESULT JUVDriverFormWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == StartTimerId && form_ != nullptr) {
            Guarded([this] { form_->Timer1Timer(); });
            return 0;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == Button1Id && HIWORD(wParam) == BN_CLICKED && form_ != nullptr) {
            Guarded([this] { form_->Button1Click(); });
            return 0;
        }
        break;
    case WM_SIZE:
        // The status bar places itself along the bottom edge when told the size changed.
        if (StatusBar1 != nullptr) ::SendMessageW(StatusBar1, WM_SIZE, 0, 0);
        return 0;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
        // Whoever asks, the close box, Alt+F4, the taskbar or another program: not mid-install.
        if (form_ != nullptr && !form_->FormCloseQuery()) return 0;
        ::DestroyWindow(window_);
        return 0;
    case WM_QUERYENDSESSION:
        return form_ == nullptr || form_->FormCloseQuery() ? TRUE : FALSE;
    case WM_DESTROY:
        if (Timer1 != 0) ::KillTimer(window_, StartTimerId);
        Timer1 = 0;
        // Closing the main window ends the program.
        ::PostQuitMessage(0);
        return 0;
    default:
        if (message == taskbarButtonCreated_ && taskbarButtonCreated_ != 0) {
            ShowProgress();
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void JUVDriverFormWindow::SetLabelText(const std::wstring& text) {
    if (Label1 == nullptr) return;
    // The label sizes itself to its text on one line, as a caption should. It takes its new
    // size before its new text and is then drawn whole, so no stale piece of the old text
    // survives a change that happens while no messages are handled.
    HDC dc = ::GetDC(Label1);
    HGDIOBJ previous = ::SelectObject(dc, labelFont_.get());
    RECT extent{0, 0, 0, 0};
    ::DrawTextW(dc, text.empty() ? L" " : text.c_str(), text.empty() ? 1 : static_cast<int>(text.size()), &extent,
                DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(dc, previous);
    ::ReleaseDC(Label1, dc);
    ::SetWindowPos(Label1, nullptr, 0, 0, text.empty() ? 0 : extent.right, extent.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowTextW(Label1, text.c_str());
    ::InvalidateRect(Label1, nullptr, TRUE);
}

std::wstring JUVDriverFormWindow::StatusText() { return statusText_; }

void JUVDriverFormWindow::SetStatusText(const std::wstring& text) {
    statusText_ = text;
    if (StatusBar1 == nullptr) return;
    ::SendMessageW(StatusBar1, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
    // The bar's own text (part 0, never drawn in simple mode) carries the same words, so that
    // tools reading the window from another process find the status with WM_GETTEXT.
    ::SendMessageW(StatusBar1, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void JUVDriverFormWindow::EnableButton(bool enabled) {
    if (Button1 != nullptr) ::EnableWindow(Button1, enabled ? TRUE : FALSE);
}

void JUVDriverFormWindow::SetButtonText(const std::wstring& text) {
    if (Button1 != nullptr) ::SetWindowTextW(Button1, text.c_str());
}

void JUVDriverFormWindow::StopTimer() {
    if (Timer1 != 0 && window_ != nullptr) ::KillTimer(window_, StartTimerId);
    Timer1 = 0;
}

void JUVDriverFormWindow::SetInstalling(bool installing) {
    installing_ = installing;
    if (window_ == nullptr) return;
    // Disabled like the owner of a modal box: painted and answering, but deaf to input.
    ::EnableWindow(window_, installing ? FALSE : TRUE);
    // Tells the user at log-off why the session waits. Some systems only pretend to support
    // it; the refusal itself comes from the answer to the query.
    if (installing)
        ::ShutdownBlockReasonCreate(window_, InstallingReason);
    else
        ::ShutdownBlockReasonDestroy(window_);
}

void JUVDriverFormWindow::SetProgress(TaskbarProgress progress) {
    progress_ = progress;
    ShowProgress();
}

void JUVDriverFormWindow::InstallFinished(InstallVerdict verdict, const std::wstring&) {
    // The label and the status line say it all; the taskbar button shows a failure in red.
    SetProgress(verdict == InstallVerdict::Failed ? TaskbarProgress::Error : TaskbarProgress::None);
}

void JUVDriverFormWindow::ShowProgress() {
    if (window_ == nullptr) return;
    if (!taskbar_ && !taskbarAsked_ && progress_ != TaskbarProgress::None) {
        // Not at start-up: the taskbar's object costs time and only a tool run needs it.
        taskbarAsked_ = true;
        ITaskbarList3* taskbar = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                         reinterpret_cast<void**>(&taskbar)))) {
            taskbar_.reset(taskbar);
            if (FAILED(taskbar_.get()->HrInit())) taskbar_.reset();
        }
    }
    if (!taskbar_) return;
    TBPFLAG state = TBPF_NOPROGRESS;
    if (progress_ == TaskbarProgress::Indeterminate) state = TBPF_INDETERMINATE;
    if (progress_ == TaskbarProgress::Error) {
        // The error colour shows on a bar only: a full one.
        taskbar_.get()->SetProgressValue(window_, 1, 1);
        state = TBPF_ERROR;
    }
    taskbar_.get()->SetProgressState(window_, state);
}

void JUVDriverFormWindow::CloseMainWindow() {
    // Posted, not done here: the window must outlive the handler that asks for its end.
    if (window_ != nullptr) ::PostMessageW(window_, WM_CLOSE, 0, 0);
}

void JUVDriverFormWindow::PostQuit() { ::PostQuitMessage(0); }

WindowId JUVDriverFormWindow::MainWindow() { return reinterpret_cast<WindowId>(window_); }

void JUVDriverFormWindow::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    ::MessageBoxW(window_, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    // A box enables its owner again when it closes; mid-install the window stays without input.
    if (installing_ && window_ != nullptr) ::EnableWindow(window_, FALSE);
}

void JUVDriverFormWindow::ShowMessageDialog(const std::wstring& text, const std::wstring& caption) {
    ::MessageBoxW(window_, text.c_str(), caption.c_str(), MB_OK);
    if (installing_ && window_ != nullptr) ::EnableWindow(window_, FALSE);
}

std::wstring JUVDriverFormWindow::LowerCase(const std::wstring& text) {
    std::wstring lower = text;
    if (!lower.empty()) ::CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    return lower;
}

} // namespace juv
