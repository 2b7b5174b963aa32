#include "app/uFrmVYKPatch.h"

#include "http/IdHTTP.h"
#include "net/IdIOHandlerSecure.h"

void DownloadToStream(const std::string& url, TStream& stream) { DownloadThrough(url, stream, nullptr); }

void DownloadThrough(const std::string& url, TStream& stream, TIdIOHandler* transport) {
    // An https address is fetched with the server's certificate verified
    // against the system's trusted roots; an http one goes as before.
    TIdIOHandlerSecure secure;
    TIdHTTP http;
    http.AttachHandler(transport ? transport : &secure);
    // A server that stops sending must not hold the updater forever.
    http.SetReadTimeout(60000);
    http.GetToStream(url, stream);
}
