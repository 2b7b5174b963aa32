#pragma once
// The main window's stored design and the update procedure behind its button.
// Nothing here knows the platform: the window is drawn by the platform from the
// values below, and every service comes through THostServices.

#include "app/PublisherCheck.h"
#include "host/Dialogs.h"
#include "host/HostServices.h"
#include "host/Stream.h"

#include <functional>
#include <string>

class TIdIOHandler;
struct TIdProxyChoice;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

class TButton {
public:
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    std::string Caption;
    int TabOrder = 0;
    std::function<void(void* Sender)> OnClick;

    // What a press of the button does: runs OnClick when set.
    void Click() {
        if (OnClick) OnClick(this);
    }
};

// One GET of url into stream, through the proxy the system is set to use
// for it; returns normally only when the document arrived. Tells work the
// document's progress, and stops when work is asked to.
void DownloadToStream(const std::string& url, TStream& stream, TBackgroundWork& work);
// The same through proxy, over a transport of the caller's instead of a
// socket when one is given (tests).
void DownloadThrough(const std::string& url, TStream& stream, TBackgroundWork& work,
                     TIdIOHandler* transport, const TIdProxyChoice& proxy);
// What lookUp answers (the system's proxy); for a stoppable work asked on a
// thread of its own and given up with EIdTransferAborted once work is asked
// to stop, as a setup script may be slow to answer. lookUp must not raise.
TIdProxyChoice ProxyUnlessStopped(const std::function<TIdProxyChoice()>& lookUp,
                                  TBackgroundWork& work);

// The compiled-in download URL.
extern const char* const DownloadUrl;
// The compiled-in publisher keys: SHA-256 pins of the signer's public key,
// comma-separated; empty when none is pinned.
extern const char* const PublisherKeys;

class TForm1 {
public:
    using TDownloader =
        std::function<void(const std::string& url, TStream& stream, TBackgroundWork& work)>;

    // Both arguments must outlive the form.
    TForm1(THostServices& host, TDownloader downloader);
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Stored design; the platform's window is built from these values.
    TFormBorderStyle BorderStyle = bsDialog;
    std::string Caption = "Aktualizace VYK";
    int ClientWidth = 238;
    int ClientHeight = 42;
    std::string FontName = "Tahoma";
    int FontHeight = -11; // pixels at 96 pixels per inch; negative: character height
    int PixelsPerInch = 96;
    int TextHeight = 13;

    TButton Button1;
    TOpenDialog OpenDialog1;
    // Who may sign a download that replaces Kalmin.exe (see PublisherCheck.h);
    // the compiled-in keys unless a caller sets others.
    TPublisherRule PublisherRule;

    // The update: locate Kalmin.exe, download the new one beside it and put it
    // in place only when complete, a Windows program and signed as
    // PublisherRule demands. Only the download runs in the background (see
    // THostServices::RunInBackground); boxes and the dialog come from here,
    // in order. Raises whatever fails;
    // the caller hands it to the error display. The installed file keeps every
    // byte unless the replacement succeeded.
    void Button1Click(void* Sender);

    void ShowWarningBox(const std::string& text);
    void ShowInfoBox(const std::string& text);
    void ShowInUseBox();
    // The value under HKEY_LOCAL_MACHINE\SOFTWARE\Tavrolin\VYK; empty when the key
    // cannot be opened with full access or the value is missing.
    std::string ReadInstallPath(const std::string& valueName);

private:
    void ReplaceFromDownload(const std::string& target);

    THostServices& host_;
    TDownloader downloader_;
};
