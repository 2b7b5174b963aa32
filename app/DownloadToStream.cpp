#include "app/uFrmVYKPatch.h"

#include "http/IdHTTP.h"
#include "http/IdProxySettings.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerSecure.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

void DownloadToStream(const std::string& url, TStream& stream, TBackgroundWork& work) {
    // Behind an office proxy the system knows it.
    const TIdProxyChoice proxy = ProxyUnlessStopped([url] { return SystemProxyFor(url); }, work);
    DownloadThrough(url, stream, work, nullptr, proxy);
}

TIdProxyChoice ProxyUnlessStopped(const std::function<TIdProxyChoice()>& lookUp,
                                  TBackgroundWork& work) {
    if (!work.Stoppable()) return lookUp();
    // What the look-up thread shares with us; it outlives a stop, as that
    // thread is left to finish on its own.
    struct TAnswer {
        std::mutex lock;
        std::condition_variable given;
        std::optional<TIdProxyChoice> choice;
    };
    const auto answer = std::make_shared<TAnswer>();
    std::thread([answer, lookUp] {
        TIdProxyChoice choice = lookUp();
        const std::lock_guard<std::mutex> guard(answer->lock);
        answer->choice = std::move(choice);
        answer->given.notify_all();
    }).detach();
    std::unique_lock<std::mutex> guard(answer->lock);
    while (!answer->choice) {
        if (work.StopRequested) throw EIdTransferAborted();
        answer->given.wait_for(guard, std::chrono::milliseconds(100));
    }
    return *answer->choice;
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
