#include "app/win32/MainWindow.h"

#include "host/InterruptCleanup.h"
#include "host/ScopeExit.h"
#include "host/WorkerThread.h"
#include "host/windows/WideText.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

const wchar_t* const kApplicationClass = L"TApplication";
const wchar_t* const kFormClass = L"TForm1";
constexpr int kButton1Id = IDOK; // Enter reaches it through the dialog keys
// Posted by the worker: the work ended, or has progress to show.
constexpr UINT kWorkEnded = WM_APP + 1;
constexpr UINT kWorkProgress = WM_APP + 2;
// How long an ending session waits for the download to stop.
constexpr auto kStopWait = std::chrono::seconds(3);

// Form windows are created with WS_EX_DLGMODALFRAME: a fixed frame with no
// caption icon. No minimise or maximise box, no sizing border.
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;

void RegisterClasses(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW application{};
    application.cbSize = sizeof application;
    application.lpfnWndProc = DefWindowProcW; // replaced per window below
    application.hInstance = instance;
    application.hIcon = ::LoadIconW(instance, L"MAINICON");
    application.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    application.lpszClassName = kApplicationClass;
    WNDCLASSEXW form = application;
    form.hIcon = nullptr;
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kFormClass;
    if (!::RegisterClassExW(&application) || !::RegisterClassExW(&form))
        throw std::runtime_error("window classes cannot be registered");
    registered = true;
}

int TextHeightOfFont(HDC dc, int fontHeight, const std::wstring& face) {
    const HFONT font = ::CreateFontW(fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
    const HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::DeleteObject(font);
    return metrics.tmHeight;
}

TMainWindow* From(HWND window) {
    return reinterpret_cast<TMainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

} // namespace

// The download's side of the window: its progress, handed over to the
// user-interface thread one message at a time.
class TMainWindow::TWindowWork : public TBackgroundWork {
public:
    explicit TWindowWork(HWND window) : TBackgroundWork(true), window_(window) {}

    void Progress(std::int64_t done, std::int64_t total) override {
        done_ = done;
        total_ = total;
        if (!posted_.exchange(true)) ::PostMessageW(window_, kWorkProgress, 0, 0);
    }
    void Show(TTaskbarProgress& taskbar) {
        posted_ = false;
        taskbar.Show(done_, total_);
    }
    void Ended() {
        ended_ = true;
        ::PostMessageW(window_, kWorkEnded, 0, 0);
    }
    bool HasEnded() const { return ended_; }

private:
    HWND window_;
    std::atomic<std::int64_t> done_{0};
    std::atomic<std::int64_t> total_{-1};
    std::atomic<bool> posted_{false};
    std::atomic<bool> ended_{false};
};

TMainWindow::TMainWindow(TForm1& form, TWindowsHostServices& host) : form_(form), host_(host) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterClasses(instance);

    // Carries the taskbar button and the title; never seen itself.
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    application_ =
        ::CreateWindowExW(0, kApplicationClass, Utf8ToWide(host_.ApplicationTitle()).c_str(),
                          WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, screenWidth / 2, screenHeight / 2,
                          0, 0, nullptr, nullptr, instance, nullptr);
    if (!application_) throw std::runtime_error("the application window cannot be created");
    ::SetWindowLongPtrW(application_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(application_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ApplicationProc));
    taskbar_ = std::make_unique<TTaskbarProgress>(application_);
    // A restarted shell announces itself, then the button it made again; an
    // elevated program must let both in.
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    taskbarButtonCreated_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    for (const UINT announced : {taskbarCreated_, taskbarButtonCreated_})
        ::ChangeWindowMessageFilterEx(application_, announced, MSGFLT_ALLOW, nullptr);

    const std::wstring face = Utf8ToWide(form_.FontName);
    const HDC screen = ::GetDC(nullptr);
    const int pixelsPerInch = ::GetDeviceCaps(screen, LOGPIXELSY);
    const TWindowLayout layout = ScaleLayout(
        form_, pixelsPerInch, [&](int height) { return TextHeightOfFont(screen, height, face); });
    ::ReleaseDC(nullptr, screen);
    font_ = ::CreateFontW(layout.FontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, face.c_str());

    RECT frame{0, 0, layout.ClientWidth, layout.ClientHeight};
    ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
    // Default position: the system places it as any new window.
    window_ = ::CreateWindowExW(kFormExStyle, kFormClass, Utf8ToWide(form_.Caption).c_str(),
                                kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, application_, nullptr, instance, nullptr);
    if (!window_) throw std::runtime_error("the main window cannot be created");
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormProc));
    // The fixed frame's system menu offers moving and closing only.
    const HMENU menu = ::GetSystemMenu(window_, FALSE);
    for (UINT item : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
        ::DeleteMenu(menu, item, MF_BYCOMMAND);

    button_ = ::CreateWindowExW(
        0, L"BUTTON", Utf8ToWide(form_.Button1.Caption).c_str(),
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, layout.ButtonLeft, layout.ButtonTop,
        layout.ButtonWidth, layout.ButtonHeight, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButton1Id)), instance, nullptr);
    ::SendMessageW(button_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    host_.SetBackgroundRunner(this);
}

TMainWindow::~TMainWindow() {
    host_.SetBackgroundRunner(nullptr);
    if (::IsWindow(window_)) ::DestroyWindow(window_);
    if (::IsWindow(application_)) ::DestroyWindow(application_);
    if (font_) ::DeleteObject(font_);
}

void TMainWindow::Run(int showCommand) {
    if (showCommand == SW_SHOWMINNOACTIVE) {
        // Minimised is the application window's state: its taskbar button
        // brings the main window back (SC_RESTORE below).
        ::ShowWindow(application_, SW_SHOWMINNOACTIVE);
    } else {
        ::ShowWindow(application_, SW_SHOWNOACTIVATE);
        ::ShowWindow(window_, showCommand == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
        ::UpdateWindow(window_);
        ::SetFocus(button_);
    }

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        try {
            if (::IsWindow(window_) && !IsEnterWithModifier(message) &&
                ::IsDialogMessageW(window_, &message))
                continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        } catch (...) {
            host_.ShowException(std::current_exception());
        }
    }
}

bool TMainWindow::IsEnterWithModifier(const MSG& message) {
    // The dialog keys press the default button on the key-down; the character
    // that follows presses nothing.
    const bool enter = (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) &&
                       message.wParam == VK_RETURN;
    if (!enter) return false;
    for (int key : {VK_SHIFT, VK_CONTROL, VK_MENU})
        if (::GetKeyState(key) < 0) return true;
    return false;
}

void TMainWindow::ShowWithApplication(bool shown) {
    if (!shown) {
        ::ShowWindow(window_, SW_HIDE);
        return;
    }
    ::ShowWindow(window_, SW_SHOW);
    // A box the window is waiting for takes the activation in its place.
    const HWND active = ::IsWindowEnabled(window_) ? window_ : ::GetLastActivePopup(window_);
    ::SetForegroundWindow(active);
    ::SetActiveWindow(active);
}

void TMainWindow::PressButton1() {
    if (busy_) return; // a press while it downloads is no press
    try {
        form_.Button1.Click();
    } catch (...) {
        // The window stays for another attempt.
        host_.ShowException(std::current_exception());
    }
    // A failure's mark stays on the taskbar until its box is dismissed.
    taskbar_->Clear();
}

void TMainWindow::RunInBackground(const TBackgroundTask& task) {
    TWindowWork work(window_);
    busy_ = &work;
    ShowBusyCursor(true);
    const TScopeExit idle([this] {
        busy_ = nullptr;
        ShowBusyCursor(false);
    });
    taskbar_->Show(0, -1);
    TWorkerThread worker(task, work, [&work] { work.Ended(); });
    ServiceWhileBusy(worker);
    try {
        worker.Join();
    } catch (const EAbort&) {
        taskbar_->Clear();
        throw;
    } catch (...) {
        taskbar_->Failed();
        throw;
    }
    taskbar_->Clear();
}

void TMainWindow::ServiceWhileBusy(const TWorkerThread& worker) {
    MSG message;
    while (!worker.Ended()) {
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0) {
            // Quitting waits for the work, which is asked to stop; the loop
            // outside sees the quit again.
            busy_->StopRequested = true;
            while (!worker.Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (IsUserInputForUs(message)) continue;
        try {
            ::DispatchMessageW(&message);
        } catch (...) {
            host_.ShowException(std::current_exception());
        }
    }
    // What the user gave before the work ended is dropped too, not handled
    // by the box that comes next.
    for (const auto& [first, last] :
         {std::pair{WM_KEYFIRST, WM_KEYLAST}, std::pair{WM_MOUSEFIRST, WM_MOUSELAST},
          std::pair{WM_NCLBUTTONDOWN, WM_NCXBUTTONDBLCLK}})
        while (::PeekMessageW(&message, nullptr, first, last, PM_REMOVE)) {
        }
}

bool TMainWindow::IsUserInputForUs(const MSG& message) const {
    const bool ours =
        message.hwnd == window_ || message.hwnd == application_ || ::IsChild(window_, message.hwnd);
    if (!ours) return false;
    const UINT m = message.message;
    if ((m >= WM_KEYFIRST && m <= WM_KEYLAST) || (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST))
        return true;
    // The caption may still be dragged; its close button and menu do nothing.
    if (m >= WM_NCLBUTTONDOWN && m <= WM_NCXBUTTONDBLCLK)
        return !(m == WM_NCLBUTTONDOWN && message.wParam == HTCAPTION);
    return false;
}

void TMainWindow::ShowBusyCursor(bool busy) const {
    POINT at{};
    ::GetCursorPos(&at);
    const HWND under = ::WindowFromPoint(at);
    if (under == window_ || ::IsChild(window_, under))
        ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
}

void TMainWindow::StopForEndOfSession() {
    busy_->StopRequested = true;
    const auto until = std::chrono::steady_clock::now() + kStopWait;
    while (!busy_->HasEnded() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The session may end as soon as this returns: what was written goes now.
    TInterruptCleanup::THold hold;
    TInterruptCleanup::RemoveWatched();
}

LRESULT CALLBACK TMainWindow::ApplicationProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    TMainWindow* self = From(window);
    if (self && ::IsWindow(self->window_)) {
        // Closing from the taskbar closes the main window; activation passes to it.
        if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
            ::PostMessageW(self->window_, WM_CLOSE, 0, 0);
            return 0;
        }
        // The taskbar button minimises and restores the application window;
        // the main window, which has no button of its own, goes and comes with it.
        if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_MINIMIZE) {
            self->ShowWithApplication(false);
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_RESTORE) {
            const LRESULT result = ::DefWindowProcW(window, message, wParam, lParam);
            self->ShowWithApplication(true);
            return result;
        }
        if (message == self->taskbarCreated_ || message == self->taskbarButtonCreated_) {
            self->taskbar_->Reset();
            return 0;
        }
        if (message == WM_SETFOCUS && ::IsWindowEnabled(self->window_)) {
            ::SetFocus(self->window_);
            return 0;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TMainWindow::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TMainWindow* self = From(window);
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->HandleFormMessage(message, wParam, lParam);
}

LRESULT TMainWindow::HandleFormMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        // Button1, by click, Space or Enter; Esc (IDCANCEL) does nothing.
        if (LOWORD(wParam) == kButton1Id) PressButton1();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && ::IsWindowEnabled(window_)) {
            ::SetFocus(button_);
            return 0;
        }
        break;
    case WM_SETFOCUS:
        ::SetFocus(button_);
        return 0;
    case WM_CLOSE:
        // The close button, Alt+F4 and the menu's Close wait for the download.
        if (!busy_) ::DestroyWindow(window_);
        return 0;
    case WM_SETCURSOR:
        if (busy_ && LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_APPSTARTING));
            return TRUE;
        }
        break;
    case WM_QUERYENDSESSION:
        if (busy_) StopForEndOfSession();
        return TRUE;
    case kWorkProgress:
        if (busy_) busy_->Show(*taskbar_);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}
