#include "http/IdAuthentication.h"

#include "http/IdCoderMIME.h"
#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
    Registry() {
        factories.emplace("BASIC", [] { return std::make_unique<TIdBasicAuthentication>(); });
    }
    std::mutex lock;
    std::map<std::string, TIdAuthenticationFactory> factories; // keyed by upper-case name
};

// Built on first use so that linking the library statically cannot drop "Basic".
Registry& Schemes() {
    static Registry registry;
    return registry;
}

} // namespace

TIdAuthWhatsNext TIdBasicAuthentication::Next() {
    for (int i = 0; i < AuthParams.Count(); ++i) {
        const std::string& line = AuthParams[i];
        if (!TextStartsWith(line, "Basic")) continue;
        std::string params = Trim(line.substr(5));
        Realm.clear();
        while (!params.empty()) {
            const auto end = params.find(", ");
            const std::string pair = params.substr(0, end);
            params = end == std::string::npos ? std::string() : params.substr(end + 2);
            const auto equals = pair.find('=');
            if (equals == std::string::npos || !TextIsSame(Trim(pair.substr(0, equals)), "realm"))
                continue;
            // The realm is quoted; the quotes are dropped.
            const std::string quoted = Trim(pair.substr(equals + 1));
            Realm = quoted.size() >= 2 ? quoted.substr(1, quoted.size() - 2) : std::string();
        }
        break;
    }
    return Username.empty() ? wnAskTheProgram : wnDoRequest;
}

std::string TIdBasicAuthentication::Authentication() {
    AdvanceStep();
    return "Basic " + EncodeBase64(Username + ":" + Password);
}

void RegisterAuthenticationMethod(const std::string& name, TIdAuthenticationFactory factory) {
    Registry& registry = Schemes();
    std::lock_guard guard(registry.lock);
    if (!registry.factories.emplace(UpperCase(name), std::move(factory)).second)
        throw EIdAlreadyRegisteredAuthenticationMethod(
            Format("Authentication method %s is already registered.", name.c_str()));
}

void UnregisterAuthenticationMethod(const std::string& name) {
    Registry& registry = Schemes();
    std::lock_guard guard(registry.lock);
    registry.factories.erase(UpperCase(name));
}

TIdAuthenticationFactory FindAuthClass(const std::string& name) {
    Registry& registry = Schemes();
    std::lock_guard guard(registry.lock);
    const auto found = registry.factories.find(UpperCase(name));
    return found == registry.factories.end() ? TIdAuthenticationFactory() : found->second;
}
