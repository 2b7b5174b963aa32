#pragma once
// vykget's command line, in the conventions curl and wget users know: short
// and long forms, options before or after the operands, "--" ends options.

#include "host/Exception.h"
#include "http/IdProxySettings.h"

#include <optional>
#include <string>
#include <vector>

// A command line that cannot be used; the message names what is wrong.
VYK_DECLARE_EXCEPTION(EUsageError, Exception);

enum class TProgressMode { Auto, On, Off };

struct TVykgetOptions {
    std::string Url;
    std::string File;
    bool Help = false;
    bool Version = false;
    bool Verbose = false;
    bool FollowRedirects = false;
    std::optional<int>
        MaxRedirects; // how many redirects -L follows; the client's bound when absent
    // Given in seconds (fractions allowed), kept in milliseconds; 0 means no limit.
    std::optional<int> ReadTimeout; // the idle limit: no byte for this long
    std::optional<int> ConnectTimeout;
    std::optional<int> MaxTime; // the whole transfer
    std::string MaxTimeText;    // as given, for the message
    // The low-speed limit: fewer than SpeedLimit bytes a second for SpeedTime
    // seconds in a row fails; both set or neither.
    std::optional<int> SpeedLimit;
    std::optional<int> SpeedTime;
    std::optional<std::string> Username; // from -u USER[:PASSWORD]
    std::string Password;
    std::optional<TIdProxyChoice> Proxy; // -x: [http://][USER:PASSWORD@]HOST[:PORT]
    std::optional<std::string> NoProxy;  // --noproxy: hosts reached directly
    bool Http10 = false;
    std::string CACertFile; // --cacert: a PEM file of further trust anchors
    std::optional<std::string>
        SamePublisherAs; // a program whose publisher must have signed the download
    std::vector<std::string>
        PublisherKeys; // pins, lower-case hex: the download's signer must hold one
    TProgressMode Progress = TProgressMode::Auto;
};

// Raises EUsageError for an unknown option, a missing or bad value, or (unless
// help or the version is asked for) operands other than URL and FILE.
TVykgetOptions ParseVykgetArguments(const std::vector<std::string>& arguments);

// A proxy text ([http://][USER:PASSWORD@]HOST[:PORT], port 1080 when left
// out); source names it in the message of an EUsageError ("option --proxy",
// "http_proxy").
TIdProxyChoice ProxyOption(const std::string& text, const std::string& source);
// A proxy setting that cannot be used, as vykget refuses it.
EUsageError RefusedProxySetting(const EIdProxySettingInvalid& error);

// The text of --help.
std::string VykgetHelp();

constexpr const char* kVykgetVersion = "vykget 1.1";
