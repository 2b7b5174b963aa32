#include "app/uFrmVYKPatch.h"

#include "http/IdHTTP.h"
#include "net/IdIOHandlerSecure.h"

void DownloadToStream(const std::string& url, TStream& stream) {
    DownloadThrough(url, stream, nullptr);
}

void DownloadThrough(const std::string& url, TStream& stream, TIdIOHandler* transport) {
    // An https address is fetched with the server's certificate verified
    // against the system's trusted roots; an http one goes as before.
    TIdIOHandlerSecure secure;
    TIdHTTP http;
    http.AttachHandler(transport ? transport : &secure);
    // A server that stops sending, or trickles, must not hold the updater
    // forever; a slow but real line keeps well above this pace.
    http.SetReadTimeout(60000);
    http.LowSpeedLimit = 1024;
    http.LowSpeedTime = 60;
    http.GetToStream(url, stream);
}
