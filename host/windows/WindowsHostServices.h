#pragma once
// Host services of the Windows program: the system's registry and files, the
// common file-open dialog and message boxes, all through the wide (UTF-16) API
// so that the Czech texts show correctly whatever the system's code page.

#include "host/HostServices.h"
#include "host/windows/WindowsRegistryHive.h"

#include <windows.h>

class TWindowsHostServices : public THostServices {
public:
    // The hidden application window owns the dialog and is the last resort owner
    // of message boxes; the main window gives the dialog its monitor. Either may
    // be null until the windows exist.
    void SetWindows(HWND applicationWindow, HWND mainWindow);

    TRegistryHive& Registry() override { return hive_; }
    bool FileExists(const std::string& path) override;
    std::unique_ptr<TReplacement> BeginReplacement(const std::string& path) override;
    std::unique_ptr<TStream> OpenToRead(const std::string& path) override;
    bool ExecuteOpenDialog(TOpenDialog& dialog) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       std::uint32_t flags) override;
    std::string ApplicationTitle() override;
    void CancelMode() override;

private:
    TWindowsRegistryHive hive_;
    HWND applicationWindow_ = nullptr;
    HWND mainWindow_ = nullptr;
};

// The filter in the dialog's form: "a|b|c|d" becomes a, NUL, b, NUL, c, NUL, d, NUL, NUL.
std::wstring DialogFilter(const std::string& filter);

// Where the dialog goes on a monitor: centred across, one third of the free height down.
POINT DialogPlacement(const RECT& monitor, int dialogWidth, int dialogHeight);
