#include "app/uFrmVYKPatch.h"

#include "http/IdHTTP.h"

void DownloadToStream(const std::string& url, TStream& stream) {
    TIdHTTP http;
    // A server that stops sending must not hold the updater forever.
    http.SetReadTimeout(60000);
    http.GetToStream(url, stream);
}
