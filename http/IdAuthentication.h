#pragma once
// Authentication schemes: an object per scheme answers what to do next with a
// challenge and produces the credential text for "Authorization". Schemes are
// found by name in a registry that holds "Basic" from the start.

#include "http/IdHeaderList.h"

#include <functional>
#include <memory>
#include <string>

enum TIdAuthWhatsNext { wnAskTheProgram, wnDoRequest, wnFail };

class TIdAuthentication {
public:
    TIdAuthentication() = default;
    virtual ~TIdAuthentication() = default;
    TIdAuthentication(const TIdAuthentication&) = delete;
    TIdAuthentication& operator=(const TIdAuthentication&) = delete;

    // What the request should do now with the challenge in AuthParams.
    virtual TIdAuthWhatsNext Next() = 0;
    // The credential text; each call advances the step counter up to Steps().
    virtual std::string Authentication() = 0;
    // Number of credential round trips the scheme needs.
    virtual int Steps() const = 0;
    // Back to the first step, as if no credential had been produced yet.
    virtual void Reset() { currentStep_ = 0; }

    int CurrentStep() const { return currentStep_; }
    // True once the last step's credential has been produced: nothing more to offer.
    bool ReachedLastStep() const { return currentStep_ >= Steps(); }

    std::string Username;
    std::string Password;
    // The challenge lines ("WWW-Authenticate" or "Proxy-Authenticate" values).
    TIdHeaderList AuthParams;

protected:
    void AdvanceStep() {
        if (currentStep_ < Steps()) ++currentStep_;
    }

private:
    int currentStep_ = 0;
};

class TIdBasicAuthentication : public TIdAuthentication {
public:
    // Reads the realm from the first challenge line that starts with "Basic";
    // sends when a user name is known, else asks the program for one.
    TIdAuthWhatsNext Next() override;
    // "Basic " + Base64 of Username ":" Password.
    std::string Authentication() override;
    int Steps() const override { return 1; }

    std::string Realm;
};

using TIdAuthenticationFactory = std::function<std::unique_ptr<TIdAuthentication>()>;

// Raises EIdAlreadyRegisteredAuthenticationMethod when the name (without case)
// is taken.
void RegisterAuthenticationMethod(const std::string& name, TIdAuthenticationFactory factory);
// Does nothing for an unknown name.
void UnregisterAuthenticationMethod(const std::string& name);
// Looks the name up without case; an empty function when it is unknown.
TIdAuthenticationFactory FindAuthClass(const std::string& name);
