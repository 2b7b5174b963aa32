#include "app/uFrmVYKPatch.h"

#include "http/IdHTTP.h"
#include "http/IdProxySettings.h"
#include "net/IdIOHandlerSecure.h"

void DownloadToStream(const std::string& url, TStream& stream, TBackgroundWork& work) {
    // Behind an office proxy the system knows it; asked here, on the
    // download's thread, as a setup script may take a while to answer.
    DownloadThrough(url, stream, work, nullptr, SystemProxyFor(url));
}

void DownloadThrough(const std::string& url, TStream& stream, TBackgroundWork& work,
                     TIdIOHandler* transport, const TIdProxyChoice& proxy) {
    // An https address is fetched with the server's certificate verified
    // against the system's trusted roots; an http one goes as before.
    TIdIOHandlerSecure secure;
    TIdHTTP http;
    http.AttachHandler(transport ? transport : &secure);
    UseProxy(http, proxy);
    // A server that stops sending, or trickles, must not hold the updater
    // forever; a slow but real line keeps well above this pace.
    http.SetReadTimeout(60000);
    http.LowSpeedLimit = 1024;
    http.LowSpeedTime = 60;
    if (work.Stoppable()) http.AbortSignal = &work.StopRequested;
    // Only the document's body is progress; an error's or a redirect's is not.
    std::int64_t total = -1;
    bool document = false;
    http.OnHeadersAvailable = [&](TIdCustomHTTP*, TIdHeaderList&, bool&) {
        const TIdHTTPResponse& response = http.Response();
        document = response.StatusCode() / 100 == 2 && response.Location.empty();
        total = response.ContentLengthKnown() ? response.ContentLength() : -1;
        if (document) work.Progress(0, total);
    };
    http.OnWork = [&](TIdComponent* sender, TWorkMode mode, std::int32_t) {
        if (mode == wmRead && document) work.Progress(sender->Work(wmRead).Done, total);
    };
    http.GetToStream(url, stream);
}
