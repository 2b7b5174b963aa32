// Program entry on Windows: COM for the thread, the main window from the form's
// design, the message loop; exit code 0 once the window is closed. Elevation
// and DPI awareness come from the manifest in VYKPatch.rc.

#include "app/uFrmVYKPatch.h"
#include "app/win32/MainWindow.h"
#include "host/windows/WindowsHostServices.h"

#include <windows.h>
#include <objbase.h>

namespace {

// COM for the user-interface thread as a single-threaded apartment, released at the end.
class TComInitialization {
public:
    TComInitialization() : initialised_(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~TComInitialization() {
        if (initialised_) ::CoUninitialize();
    }
    TComInitialization(const TComInitialization&) = delete;
    TComInitialization& operator=(const TComInitialization&) = delete;

private:
    bool initialised_;
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    // A missing drive is an ordinary failure, not a system box.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    TComInitialization com;
    TWindowsHostServices host;
    TForm1 form(host, DownloadToStream);
    TMainWindow window(form, host);
    host.SetWindows(window.ApplicationWindow(), window.Handle());
    window.Run(showCommand);
    return 0;
}
