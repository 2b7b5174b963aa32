// vykget [options] URL FILE: downloads one URL with the updater's HTTP client.
// The body goes into a temporary file beside FILE, which replaces FILE only
// when the download succeeded (and, with --same-publisher-as or
// --publisher-key, its signature passed); a device or FIFO is written
// directly, unless a signature is to be checked. What the replacement could
// not keep once FILE has the new bytes (its owner, the folder's flush) is a
// warning on standard error, not a failure. On
// failure FILE is untouched, the message the updater's error box would show
// goes to standard error, and the exit code is 1; an interrupt also leaves FILE
// and removes the temporary file (exit code 128 plus the signal's number); a
// wrong command line exits with 2. Without options the client keeps its
// default settings.

#include "app/PublisherCheck.h"
#include "host/Console.h"
#include "host/FileReplacement.h"
#include "host/FileStream.h"
#include "host/InterruptCleanup.h"
#include "host/PEImage.h"
#include "host/SysUtils.h"
#include "host/SystemError.h"
#include "http/IdHTTP.h"
#include "http/IdProxySettings.h"
#include "http/IdURI.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerSecure.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdIntercept.h"
#include "tools/ProgressMeter.h"
#include "tools/StandardOutputStream.h"
#include "tools/VykgetOptions.h"
#include "tools/VykgetTrace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace {

// A transfer that returned normally without a document: the last redirect when
// the maximum was reached, or one not followed.
VYK_DECLARE_EXCEPTION(ENoDocument, Exception);
// The whole transfer took longer than --max-time allows.
VYK_DECLARE_EXCEPTION(EMaxTimeReached, Exception);

// A redirect that -L cannot follow: a scheme other than http.
VYK_DECLARE_EXCEPTION(ERedirectScheme, Exception);
// The server closed the connection before the document's body was whole.
VYK_DECLARE_EXCEPTION(ETransferClosed, Exception);
// FILE refused the bytes: a full disk, a quota, a device error.
VYK_DECLARE_EXCEPTION(EFileWriteFailed, Exception);

// Only http and https are fetched; anything else is refused before a byte is sent.
void RefuseOtherSchemes(TIdCustomHTTP*, std::string& location, int&, bool&, std::string&) {
    const auto colon = location.find(':');
    if (colon == std::string::npos || colon == 0) return;
    const std::string scheme = location.substr(0, colon);
    if (scheme.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+.-") !=
            std::string::npos ||
        !std::isalpha(static_cast<unsigned char>(scheme[0])))
        return; // a path with a colon in it, not a scheme
    if (TextIsSame(scheme, "http") || TextIsSame(scheme, "https")) return;
    throw ERedirectScheme("Redirect to a " + ShownText(scheme) +
                          ": URL, which vykget does not fetch.");
}

// -x, else the proxy variables (see EnvironmentProxyFor), else the system's
// setting. --noproxy, else no_proxy or NO_PROXY, names the hosts reached
// directly past -x or the variables; past the system's setting only
// --noproxy does, as the system has its own list.
// Source says where the choice came from; empty when nothing was set.
TIdProxyChoice ChosenProxy(const TVykgetOptions& options) {
    const std::string noProxy = options.NoProxy.value_or(EnvironmentNoProxy());
    const std::string listedBy = options.NoProxy ? "--noproxy" : "no_proxy";
    const bool listed = HostIsListed(noProxy, TIdURI(options.Url).Host);
    if (options.Proxy) {
        if (listed) return TIdProxyChoice::DirectBy(listedBy);
        TIdProxyChoice choice = *options.Proxy;
        choice.Source = "-x";
        return choice;
    }
    TIdProxyChoice choice;
    try {
        choice = EnvironmentProxyFor(options.Url, noProxy);
    } catch (const EIdProxySettingInvalid& error) {
        throw RefusedProxySetting(error);
    }
    if (choice.Direct() && !choice.Source.empty()) choice.Source = listedBy;
    if (!choice.Source.empty()) return choice;
    if (options.NoProxy && listed) return TIdProxyChoice::DirectBy(listedBy);
    return SystemProxyFor(options.Url);
}

// Everything the options change; without options the client keeps its
// settings, and only each reply's head is watched, to know a document's body.
class TVykgetSession {
public:
    TVykgetSession(TIdHTTP& http, TIdIOHandlerSecure& secure, const TVykgetOptions& options)
        : http_(http), secure_(secure) {
        secure.ExtraCAFile = options.CACertFile;
        http.AttachHandler(&secure);
        if (options.FollowRedirects) http.HandleRedirects = true;
        // The client stops at the redirect that reaches its maximum: N followed is N + 1.
        if (options.MaxRedirects) http.RedirectMaximum = *options.MaxRedirects + 1;
        if (options.FollowRedirects) http.OnRedirect = RefuseOtherSchemes;
        if (options.ReadTimeout) http.SetReadTimeout(*options.ReadTimeout);
        if (options.ConnectTimeout) http.SetConnectTimeout(*options.ConnectTimeout);
        if (options.Username) {
            http.Request().Username = *options.Username;
            http.Request().Password = options.Password;
            // "-u USER" sends USER with an empty password: the client answers
            // without a password only when a handler stands by, and this one
            // asks nobody, as scripts run vykget.
            http.OnAuthorization = [](TIdCustomHTTP*, TIdAuthentication&, bool&) {};
        }
        // Credentials from -u or the URL answer a challenge, once: wrong ones
        // are not sent again.
        if (options.Username || !TIdURI(options.Url).Username.empty()) {
            http.HTTPOptions |= hoInProcessAuth;
            http.MaxAuthRetries = 1;
        }
        const TIdProxyChoice proxy = ChosenProxy(options);
        UseProxy(http, proxy);
        if (options.Http10) http.ProtocolVersion = pv1_0;
        if (options.Verbose) Trace();
        if (options.Verbose && !proxy.Source.empty()) TraceLine(TraceProxy(proxy));
        const bool meter = options.Progress == TProgressMode::On ||
                           (options.Progress == TProgressMode::Auto && StandardErrorIsTerminal());
        if (meter) Meter();
        if (options.MaxTime) http.TransferTimeout = *options.MaxTime;
        if (options.SpeedLimit) {
            http.LowSpeedLimit = *options.SpeedLimit;
            http.LowSpeedTime = *options.SpeedTime;
        }
        WatchHeads();
    }

    // A close inside the document's body says how much of it arrived; sink
    // holds what did.
    void ThrowIfBodyCut(TStream& sink) const {
        if (!documentBody_) return;
        const TIdHTTPResponse& response = http_.Response();
        const std::string received = std::to_string(sink.Size());
        if (response.ChunkedTransfer())
            throw ETransferClosed("Transfer closed with " + received +
                                  " bytes received inside a chunked body.");
        if (response.ContentLengthKnown())
            throw ETransferClosed("Transfer closed with " + received + " of " +
                                  std::to_string(response.ContentLength()) + " bytes received.");
    }

    // The meter's final line, also when the transfer failed, before its message.
    ~TVykgetSession() {
        if (meter_) meter_->Finish();
    }
    TVykgetSession(const TVykgetSession&) = delete;
    TVykgetSession& operator=(const TVykgetSession&) = delete;

private:
    void Trace() {
        trace_ = std::make_unique<TIdConnectionIntercept>();
        trace_->OnSend = [this](TIdConnectionIntercept&, TIdBytes& bytes) {
            TraceLine(TraceRequestHead(BytesToString(bytes)));
        };
        // The connect is shown before what TLS negotiated over it, whether the
        // handshake came with the connect or later through a proxy's tunnel.
        secure_.OnStatus = [this](TIdComponent*, TIdStatus status, const std::string&) {
            if (status == hsConnecting) connected_ = false;
        };
        secure_.OnSecured = [this](const TIdTLSInfo& info) {
            const std::string lines = TraceTLS(info);
            if (connected_)
                TraceLine(lines);
            else
                securedLines_ = lines;
        };
        http_.OnConnected = [this](TIdComponent*) {
            if (TIdIOHandlerSocket* socket = http_.Socket(); socket && socket->Binding())
                TraceLine(TraceConnect(socket->Binding()->PeerAddress(),
                                       socket->Binding()->RemotePort()));
            connected_ = true;
            if (!securedLines_.empty()) TraceLine(securedLines_);
            securedLines_.clear();
            if (http_.IOHandler()) http_.IOHandler()->SetIntercept(trace_.get());
        };
        verbose_ = true;
    }

    void Meter() {
        meter_ = std::make_unique<TProgressMeter>(
            [](const std::string& text) { WriteToStandardError(text); });
        // Counted from the record, whose counts are 64-bit; should a body come
        // in several spans, they are added up.
        http_.OnWorkBegin = [this](TIdComponent*, TWorkMode mode, std::int32_t) {
            if (mode == wmRead) spanBase_ = counted_;
        };
        http_.OnWork = [this](TIdComponent* sender, TWorkMode mode, std::int32_t) {
            if (mode != wmRead || !metering_) return;
            counted_ = spanBase_ + sender->Work(wmRead).Done;
            meter_->Update(counted_);
        };
    }

    // A trace line on a line of its own, the meter's blanked first.
    void TraceLine(const std::string& text) {
        if (meter_) meter_->Clear();
        WriteToStandardError(text);
    }

    // Each response head starts a new body for the meter and is traced.
    void WatchHeads() {
        http_.OnHeadersAvailable = [this](TIdCustomHTTP*, TIdHeaderList& headers, bool&) {
            TIdHTTPResponse& response = http_.Response();
            if (verbose_) TraceLine(TraceResponseHead(response.StatusLine, headers));
            // Only a document's body is counted; an error's or a redirect's is not.
            documentBody_ = response.StatusCode() / 100 == 2 && response.Location.empty();
            metering_ = meter_ && documentBody_;
            if (metering_) {
                counted_ = spanBase_ = 0;
                meter_->Start(response.ContentLengthKnown() ? response.ContentLength() : -1);
            }
        };
    }

    TIdHTTP& http_;
    TIdIOHandlerSecure& secure_;
    bool connected_ = false;   // the connection under way has been traced
    std::string securedLines_; // its TLS lines, when they came first
    std::unique_ptr<TIdConnectionIntercept> trace_;
    std::unique_ptr<TProgressMeter> meter_;
    bool verbose_ = false;
    bool documentBody_ = false; // the body under way is a document's
    bool metering_ = false;     // and the meter counts it
    std::int64_t counted_ = 0;
    std::int64_t spanBase_ = 0;
};

// A write FILE refused names FILE as given and the system's reason.
[[noreturn]] void ThrowFileWriteFailed(const std::string& shown, TFileReplacement* file,
                                       const EWriteError& error) {
    const std::uint32_t reason = file ? file->Stream().WriteError() : 0;
    if (reason == 0) throw error;
    throw EFileWriteFailed("Cannot write \"" + shown + "\": " + SystemErrorText(reason) + ".");
}

// The program whose publisher must have signed the download, read before
// anything is fetched; nullopt when no option asks for a check.
std::optional<TProgramSignature> ReferenceSignature(const TVykgetOptions& options) {
    if (!options.SamePublisherAs) return std::nullopt;
    TFileStream reference(*options.SamePublisherAs, fmOpenRead | fmShareDenyNone);
    return ReadProgramSignature(reference);
}

// Before FILE is replaced: -v shows who signed a downloaded program, and
// --publisher-key or --same-publisher-as refuse one that fails their rule.
void CheckDownloadedProgram(const TVykgetOptions& options,
                            const std::optional<TProgramSignature>& reference, TStream& download) {
    const bool checked = reference || !options.PublisherKeys.empty();
    if (options.Verbose && StartsAsWindowsProgram(download))
        WriteToStandardError(TraceSignature(ReadProgramSignature(download)));
    if (!checked) return;
    // A reference without a valid signature binds nothing, as for the updater:
    // say so rather than pass in silence.
    if (options.PublisherKeys.empty() && !reference->Valid())
        WriteToStandardError("vykget: " + *options.SamePublisherAs +
                             " carries no valid signature (" + reference->Why +
                             "), so any download is accepted\n");
    TPublisherRule(options.PublisherKeys).Check(download, reference ? &*reference : nullptr);
}

int Download(const TVykgetOptions& options) {
    try {
        const std::optional<TProgramSignature> reference = ReferenceSignature(options);
        // FILE "-": the body goes to standard output as it arrives.
        std::unique_ptr<TStandardOutputStream> standardOutput;
        std::unique_ptr<TFileReplacement> file;
        if (options.File == "-") {
            standardOutput = std::make_unique<TStandardOutputStream>();
        } else {
            TReplacementOptions replacing;
            replacing.RandomTag = "vykget";
            // /dev/null, a FIFO or a terminal is written, not replaced; not
            // when the download is checked first, as its reader would have it
            // before the check.
            replacing.WriteSpecialInPlace =
                !options.SamePublisherAs && options.PublisherKeys.empty();
            // A FILE that cannot be written fails here, before any request.
            file = std::make_unique<TFileReplacement>(options.File, replacing);
        }
        TStream& sink = standardOutput ? static_cast<TStream&>(*standardOutput) : file->Stream();
        {
            // https and http alike go through the secure handler, which
            // outlives the client that watches it.
            TIdIOHandlerSecure secure;
            secure.RecvBufferSize = 64 * 1024;
            TIdHTTP http;
            TVykgetSession session(http, secure, options);
            try {
                http.GetToStream(options.Url, sink);
            } catch (const EIdTransferTimeout&) {
                throw EMaxTimeReached("Maximum time reached: --max-time " + options.MaxTimeText +
                                      " seconds.");
            } catch (const EIdConnClosedGracefully&) {
                session.ThrowIfBodyCut(sink);
                throw;
            } catch (const EWriteError& error) {
                ThrowFileWriteFailed(options.File, file.get(), error);
            }
            // Only a 2xx reply is a document; the rest returned without one.
            const int code = http.Response().StatusCode();
            // A redirect's Location may be empty: it names the same URL again.
            if (options.FollowRedirects && code / 100 == 3 && code != 304 &&
                http.RedirectCounter >= http.RedirectMaximum)
                throw ENoDocument(Format("Maximum of %d redirects followed (--max-redirs).",
                                         http.RedirectMaximum - 1));
            if (code / 100 != 2) throw ENoDocument(ShownText(http.Response().StatusLine));
        }
        if (file) CheckDownloadedProgram(options, reference, sink);
        if (file) {
            file->Commit();
            for (const std::string& warning : file->Warnings())
                WriteToStandardError("vykget: " + warning + "\n");
        }
        return 0;
    } catch (const std::exception& error) {
        WriteToStandardError(ErrorDisplayText(error.what()) + "\n");
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    TVykgetOptions options;
    try {
        options = ParseVykgetArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& error) {
        WriteToStandardError(std::string(error.what()) + "\n");
        return 2;
    }
    if (options.Help) {
        std::fputs(VykgetHelp().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::fputs((std::string(kVykgetVersion) + "\n").c_str(), stdout);
        return 0;
    }
    TInterruptCleanup::Install("vykget");
    return Download(options);
}
