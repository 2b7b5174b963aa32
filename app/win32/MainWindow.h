#pragma once
// The Win32 form of the program: the hidden application window that carries
// the taskbar button with the title, and the main window drawn from the form's
// stored design (fixed dialog frame with caption, system menu and close button;
// the one button, focused and default, pressed by Enter or Space; Esc ignored).
// It runs the download in the background: meanwhile it paints, moves and
// answers the system, drops the user's input, shows the working-in-background
// cursor and the progress on the taskbar button.

#include "app/uFrmVYKPatch.h"
#include "app/win32/TaskbarProgress.h"
#include "host/BackgroundWork.h"
#include "host/windows/WindowsHostServices.h"

#include <windows.h>

#include <memory>

class TWorkerThread;

// Sizes in pixels after scaling the stored design to the screen.
struct TWindowLayout {
    int ClientWidth;
    int ClientHeight;
    int ButtonLeft;
    int ButtonTop;
    int ButtonWidth;
    int ButtonHeight;
    int FontHeight;
};

// The font height follows the screen's pixels per inch; when the text height
// that font gives (textHeightOf, called with the scaled font height) differs
// from the stored one, the sizes scale by the ratio of the two text heights.
template <typename TextHeightOf>
TWindowLayout ScaleLayout(const TForm1& form, int pixelsPerInch, TextHeightOf textHeightOf) {
    TWindowLayout layout{form.ClientWidth, form.ClientHeight,  form.Button1.Left,
                         form.Button1.Top, form.Button1.Width, form.Button1.Height,
                         form.FontHeight};
    if (pixelsPerInch == form.PixelsPerInch) return layout;
    layout.FontHeight = ::MulDiv(form.FontHeight, pixelsPerInch, form.PixelsPerInch);
    const int textHeight = textHeightOf(layout.FontHeight);
    if (textHeight == form.TextHeight) return layout;
    for (int* size : {&layout.ClientWidth, &layout.ClientHeight, &layout.ButtonLeft,
                      &layout.ButtonTop, &layout.ButtonWidth, &layout.ButtonHeight})
        *size = ::MulDiv(*size, textHeight, form.TextHeight);
    return layout;
}

class TMainWindow : public TBackgroundRunner {
public:
    // Creates both windows at once; form and host must outlive the object.
    TMainWindow(TForm1& form, TWindowsHostServices& host);
    ~TMainWindow() override;
    TMainWindow(const TMainWindow&) = delete;
    TMainWindow& operator=(const TMainWindow&) = delete;

    HWND ApplicationWindow() const { return application_; }
    HWND Handle() const { return window_; }
    HWND Button1() const { return button_; }

    // Shows the windows in the start-up show state (SW_SHOWMAXIMIZED maximises
    // the main window; SW_SHOWMINNOACTIVE minimises the application window and
    // keeps the main window hidden until it is restored; anything else shows the
    // window normally) and runs the message loop until the window is closed.
    // Whatever escapes a handler goes to the error display and the loop goes on.
    void Run(int showCommand);

    // Runs task on a worker thread and services the window until it ends.
    // A session that ends meanwhile stops it and removes what it wrote.
    void RunInBackground(const TBackgroundTask& task) override;

private:
    static LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleFormMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void PressButton1();
    class TWindowWork;
    // Services the window until worker ends; input for it is dropped.
    void ServiceWhileBusy(const TWorkerThread& worker);
    bool IsUserInputForUs(const MSG& message) const;
    void ShowBusyCursor(bool busy) const;
    void StopForEndOfSession();
    // Follows the application window's minimise (hidden) and restore (shown, active).
    void ShowWithApplication(bool shown);
    // Enter with Shift, Ctrl or Alt held is no press of the default button.
    static bool IsEnterWithModifier(const MSG& message);

    TForm1& form_;
    TWindowsHostServices& host_;
    HWND application_ = nullptr;
    HWND window_ = nullptr;
    HWND button_ = nullptr;
    HFONT font_ = nullptr;
    std::unique_ptr<TTaskbarProgress> taskbar_;
    UINT taskbarCreated_ = 0;
    UINT taskbarButtonCreated_ = 0;
    TWindowWork* busy_ = nullptr; // the work under way, while there is one
};
