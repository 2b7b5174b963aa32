// Here the system's proxy setting is the environment's.

#include "http/IdProxySettings.h"

TIdProxyChoice SystemProxyFor(const std::string& url) {
    try {
        return EnvironmentProxyFor(url);
    } catch (...) { // a value that cannot be used, or no memory for it
        return {};
    }
}
