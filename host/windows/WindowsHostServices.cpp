#include "host/windows/WindowsHostServices.h"

#include "host/FileReplacement.h"
#include "host/FileStream.h"
#include "host/SysUtils.h"
#include "host/SystemError.h"
#include "host/windows/WideText.h"

#include <commdlg.h>

#include <vector>

namespace {

// Disables the thread's other visible and enabled top-level windows for the
// lifetime of a modal box or dialog, and afterwards enables them again,
// activates the window that was active and restores the focus.
class TTaskModalWindows {
public:
    explicit TTaskModalWindows(HWND except) : except_(except) {
        active_ = ::GetActiveWindow();
        focus_ = ::GetFocus();
        ::EnumThreadWindows(::GetCurrentThreadId(), &Disable, reinterpret_cast<LPARAM>(this));
    }
    ~TTaskModalWindows() {
        for (HWND window : disabled_)
            if (::IsWindow(window)) ::EnableWindow(window, TRUE);
        if (active_ && ::IsWindow(active_)) ::SetActiveWindow(active_);
        if (focus_ && ::IsWindow(focus_)) ::SetFocus(focus_);
    }
    TTaskModalWindows(const TTaskModalWindows&) = delete;
    TTaskModalWindows& operator=(const TTaskModalWindows&) = delete;

private:
    static BOOL CALLBACK Disable(HWND window, LPARAM self) {
        auto* modal = reinterpret_cast<TTaskModalWindows*>(self);
        if (window != modal->except_ && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
            ::EnableWindow(window, FALSE);
            modal->disabled_.push_back(window);
        }
        return TRUE;
    }

    HWND except_;
    HWND active_;
    HWND focus_;
    std::vector<HWND> disabled_;
};

RECT MonitorRect(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcMonitor;
}

// The window the dialog is placed by: the active one of ours, else the main one.
HWND gPlacementWindow = nullptr;

UINT_PTR CALLBACK DialogHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_INITDONE) {
        const HWND dialog = ::GetParent(hook);
        RECT frame{};
        ::GetWindowRect(dialog, &frame);
        const POINT at = DialogPlacement(MonitorRect(gPlacementWindow ? gPlacementWindow : dialog),
                                         frame.right - frame.left, frame.bottom - frame.top);
        ::SetWindowPos(dialog, nullptr, at.x, at.y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return 0;
}

} // namespace

std::wstring DialogFilter(const std::string& filter) {
    std::wstring out = Utf8ToWide(filter);
    out.push_back(L'\0');
    for (wchar_t& c : out)
        if (c == L'|') c = L'\0';
    out.push_back(L'\0');
    return out;
}

POINT DialogPlacement(const RECT& monitor, int dialogWidth, int dialogHeight) {
    const int width = monitor.right - monitor.left;
    const int height = monitor.bottom - monitor.top;
    return POINT{monitor.left + (width - dialogWidth) / 2,
                 monitor.top + (height - dialogHeight) / 3};
}

void TWindowsHostServices::SetWindows(HWND applicationWindow, HWND mainWindow) {
    applicationWindow_ = applicationWindow;
    mainWindow_ = mainWindow;
}

bool TWindowsHostServices::FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<TReplacement> TWindowsHostServices::BeginReplacement(const std::string& path) {
    TReplacementOptions options;
    options.DisplayName = ExpandFileName(path);
    options.FixedSuffix = ".part";
    return std::make_unique<TFileReplacement>(path, options);
}

std::unique_ptr<TStream> TWindowsHostServices::OpenToRead(const std::string& path) {
    return std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone, ExpandFileName(path));
}

bool TWindowsHostServices::ExecuteOpenDialog(TOpenDialog& dialog) {
    const std::wstring filter = DialogFilter(dialog.Filter);
    const std::wstring initialDir = Utf8ToWide(dialog.InitialDir);
    const std::wstring title = Utf8ToWide(dialog.Title);
    const std::wstring defaultExt = Utf8ToWide(dialog.DefaultExt);
    std::vector<wchar_t> name(MAX_PATH + 2, L'\0');
    const std::wstring current = Utf8ToWide(dialog.FileName).substr(0, MAX_PATH);
    std::copy(current.begin(), current.end(), name.begin());

    OPENFILENAMEW record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = applicationWindow_;
    record.hInstance = ::GetModuleHandleW(nullptr);
    record.lpstrFilter = filter.c_str();
    record.nFilterIndex = static_cast<DWORD>(dialog.FilterIndex);
    record.lpstrFile = name.data();
    record.nMaxFile = static_cast<DWORD>(name.size());
    record.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
    record.lpstrTitle = title.empty() ? nullptr : title.c_str();
    record.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
    record.Flags = OFN_ENABLEHOOK | dialog.Options | OFN_EXPLORER;
    record.lpfnHook = &DialogHook;

    const HWND active = ::GetActiveWindow();
    gPlacementWindow = active ? active : mainWindow_;
    BOOL chosen;
    {
        TTaskModalWindows modal(nullptr);
        chosen = ::GetOpenFileNameW(&record);
    }
    if (!chosen) return false;
    dialog.FileName = WideToUtf8(name.data());
    dialog.FilterIndex = static_cast<int>(record.nFilterIndex);
    return true;
}

int TWindowsHostServices::ShowMessageBox(const std::string& text, const std::string& caption,
                                         std::uint32_t flags) {
    HWND owner = ::GetActiveWindow();
    if (!owner && applicationWindow_) owner = ::GetLastActivePopup(applicationWindow_);
    if (!owner) owner = applicationWindow_;

    // On another monitor than its owner, the application window moves over for the box.
    RECT moved{};
    bool isMoved = false;
    if (owner && applicationWindow_ && owner != applicationWindow_ &&
        ::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST) !=
            ::MonitorFromWindow(applicationWindow_, MONITOR_DEFAULTTONEAREST)) {
        ::GetWindowRect(applicationWindow_, &moved);
        const RECT monitor = MonitorRect(owner);
        const int width = moved.right - moved.left;
        const int height = moved.bottom - moved.top;
        ::SetWindowPos(applicationWindow_, nullptr, (monitor.left + monitor.right - width) / 2,
                       (monitor.top + monitor.bottom - height) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
        isMoved = true;
    }
    int result;
    {
        TTaskModalWindows modal(owner);
        result = ::MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), flags);
    }
    if (isMoved)
        ::SetWindowPos(applicationWindow_, nullptr, moved.left, moved.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    return result;
}

std::string TWindowsHostServices::ApplicationTitle() {
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length < name.size()) return ApplicationTitleFromFileName(WideToUtf8(name.data()));
        name.resize(name.size() * 2);
    }
}

void TWindowsHostServices::CancelMode() {
    if (const HWND capture = ::GetCapture()) ::SendMessageW(capture, WM_CANCELMODE, 0, 0);
}
