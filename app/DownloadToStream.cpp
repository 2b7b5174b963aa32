#include "app/uFrmVYKPatch.h"

#include "http/IdHTTP.h"

void DownloadToStream(const std::string& url, TStream& stream) { DownloadThrough(url, stream, nullptr); }

void DownloadThrough(const std::string& url, TStream& stream, TIdIOHandler* transport) {
    TIdHTTP http;
    if (transport) http.AttachHandler(transport);
    // A server that stops sending must not hold the updater forever.
    http.SetReadTimeout(60000);
    http.GetToStream(url, stream);
}
