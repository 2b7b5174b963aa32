#include "tools/VykgetOptions.h"

#include "app/PublisherCheck.h"
#include "http/IdURI.h"

#include <algorithm>
#include <limits>

namespace {

enum class Kind { Flag, Value };

struct Option {
    char shortName; // 0 when the option has only a long form
    const char* longName;
    Kind kind;
};

const Option kOptions[] = {
    {'h', "help", Kind::Flag},           {0, "version", Kind::Flag},
    {'v', "verbose", Kind::Flag},        {'L', "location", Kind::Flag},
    {0, "max-redirs", Kind::Value},      {0, "timeout", Kind::Value},
    {0, "connect-timeout", Kind::Value}, {0, "read-timeout", Kind::Value},
    {'m', "max-time", Kind::Value},      {'Y', "speed-limit", Kind::Value},
    {'y', "speed-time", Kind::Value},    {'o', "output", Kind::Value},
    {'u', "user", Kind::Value},          {'x', "proxy", Kind::Value},
    {0, "noproxy", Kind::Value},         {0, "http1.0", Kind::Flag},
    {0, "cacert", Kind::Value},          {0, "same-publisher-as", Kind::Value},
    {0, "publisher-key", Kind::Value},   {0, "progress", Kind::Flag},
    {'s', "silent", Kind::Flag},
};

const Option* FindLong(const std::string& name) {
    for (const Option& option : kOptions)
        if (name == option.longName) return &option;
    return nullptr;
}

const Option* FindShort(char name) {
    for (const Option& option : kOptions)
        if (option.shortName != 0 && option.shortName == name) return &option;
    return nullptr;
}

// A whole number from 0 to the largest 32-bit value, digits only.
int WholeNumber(const std::string& option, const std::string& value, const char* what) {
    long long n = 0;
    bool ok = !value.empty() && value.size() <= 10;
    for (const char c : value) {
        if (c < '0' || c > '9')
            ok = false;
        else
            n = n * 10 + (c - '0');
    }
    if (!ok || n > std::numeric_limits<int>::max())
        throw EUsageError("vykget: option --" + option + " needs " + what + ", not '" + value +
                          "'");
    return static_cast<int>(n);
}

// Seconds as curl and wget take them ("2", "1.5", "0.25") in milliseconds,
// a part of a millisecond counting as one; none for 0, which sets no limit.
std::optional<int> Seconds(const std::string& option, const std::string& value) {
    const auto dot = value.find('.');
    const std::string whole = value.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : value.substr(dot + 1);
    bool ok = !(whole + fraction).empty() && whole.size() <= 7;
    for (const char c : whole + fraction) ok = ok && c >= '0' && c <= '9';
    if (!ok)
        throw EUsageError("vykget: option --" + option + " needs a number of seconds, not '" +
                          value + "'");
    long long ms = 0;
    for (const char c : whole) ms = ms * 10 + (c - '0');
    ms *= 1000;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        if (fraction[i] == '0') continue;
        if (i >= 3) { // below a millisecond
            ++ms;
            break;
        }
        ms += (fraction[i] - '0') * (i == 0 ? 100 : i == 1 ? 10 : 1);
    }
    if (ms > std::numeric_limits<int>::max())
        throw EUsageError("vykget: option --" + option + " allows at most 2147483 seconds, not '" +
                          value + "'");
    if (ms == 0) return std::nullopt;
    return static_cast<int>(ms);
}

} // namespace

TIdProxyChoice ProxyOption(const std::string& text, const std::string& source) {
    try {
        return ParseProxyUrl(text, source);
    } catch (const EIdProxySettingInvalid& error) {
        throw RefusedProxySetting(error);
    }
}

EUsageError RefusedProxySetting(const EIdProxySettingInvalid& error) {
    return EUsageError("vykget: " + error.Message());
}

namespace {

void Apply(TVykgetOptions& options, const Option& option, const std::string& value) {
    const std::string name = option.longName;
    if (name == "help")
        options.Help = true;
    else if (name == "version")
        options.Version = true;
    else if (name == "verbose")
        options.Verbose = true;
    else if (name == "location")
        options.FollowRedirects = true;
    else if (name == "max-redirs")
        options.MaxRedirects = WholeNumber(name, value, "a whole number");
    else if (name == "timeout")
        options.ReadTimeout = options.ConnectTimeout = Seconds(name, value);
    else if (name == "read-timeout")
        options.ReadTimeout = Seconds(name, value);
    else if (name == "connect-timeout")
        options.ConnectTimeout = Seconds(name, value);
    else if (name == "max-time") {
        options.MaxTime = Seconds(name, value);
        options.MaxTimeText = value;
    } else if (name == "speed-limit")
        options.SpeedLimit = WholeNumber(name, value, "a number of bytes per second");
    else if (name == "speed-time")
        options.SpeedTime = WholeNumber(name, value, "a whole number of seconds");
    else if (name == "user") {
        const auto colon = value.find(':');
        options.Username = value.substr(0, colon);
        options.Password = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    } else if (name == "proxy")
        options.Proxy = ProxyOption(value, "option --proxy");
    else if (name == "noproxy")
        options.NoProxy = value;
    else if (name == "cacert")
        options.CACertFile = value;
    else if (name == "same-publisher-as")
        options.SamePublisherAs = value;
    else if (name == "publisher-key") {
        try {
            options.PublisherKeys.push_back(PublisherKeyPin(value));
        } catch (const EConvertError&) {
            throw EUsageError(
                "vykget: option --publisher-key needs 64 hex digits (a key's SHA-256), not '" +
                value + "'");
        }
    } else if (name == "output")
        options.File = value;
    else if (name == "http1.0")
        options.Http10 = true;
    else if (name == "progress")
        options.Progress = TProgressMode::On;
    else if (name == "silent")
        options.Progress = TProgressMode::Off;
}

} // namespace

TVykgetOptions ParseVykgetArguments(const std::vector<std::string>& arguments) {
    TVykgetOptions options;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        auto nextValue = [&](const std::string& shown) {
            if (i + 1 >= arguments.size())
                throw EUsageError("vykget: option " + shown + " needs a value");
            return arguments[++i];
        };
        if (argument[1] == '-') {
            const auto equals = argument.find('=');
            const std::string name =
                argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const Option* option = FindLong(name);
            if (!option) throw EUsageError("vykget: unknown option '--" + name + "'");
            if (option->kind == Kind::Flag) {
                if (equals != std::string::npos)
                    throw EUsageError("vykget: option --" + name + " takes no value");
                Apply(options, *option, {});
            } else {
                Apply(options, *option,
                      equals != std::string::npos ? argument.substr(equals + 1)
                                                  : nextValue("--" + name));
            }
            continue;
        }
        // Short options may be bundled ("-sL"); a value follows its letter or comes next.
        for (std::size_t at = 1; at < argument.size(); ++at) {
            const Option* option = FindShort(argument[at]);
            if (!option)
                throw EUsageError(std::string("vykget: unknown option '-") + argument[at] + "'");
            if (option->kind == Kind::Flag) {
                Apply(options, *option, {});
                continue;
            }
            const std::string shown = std::string("-") + argument[at];
            Apply(options, *option,
                  at + 1 < argument.size() ? argument.substr(at + 1) : nextValue(shown));
            break;
        }
    }
    if (options.Help || options.Version) return options;
    // As curl: -y alone keeps a pace of one byte a second, -Y alone over 30 seconds.
    if (options.SpeedTime && !options.SpeedLimit) options.SpeedLimit = 1;
    if (options.SpeedLimit && !options.SpeedTime) options.SpeedTime = 30;
    if (options.SpeedLimit == 0 || options.SpeedTime == 0)
        options.SpeedLimit = options.SpeedTime = std::nullopt;
    // FILE is the second operand, or -o FILE as curl has it.
    const std::size_t wanted = options.File.empty() ? 2 : 1;
    if (operands.size() != wanted)
        throw EUsageError("usage: vykget URL FILE (vykget --help lists the options)");
    options.Url = operands[0];
    if (wanted == 2) options.File = operands[1];
    if (options.File == "-" && (options.SamePublisherAs || !options.PublisherKeys.empty()))
        throw EUsageError(
            "vykget: a signature is checked before FILE is replaced, so FILE cannot be -");
    return options;
}

std::string VykgetHelp() {
    return "usage: vykget [options] URL FILE\n"
           "Downloads URL (http or https, the certificate always verified) with the\n"
           "updater's HTTP client into FILE, which is replaced only when the download\n"
           "succeeded; FILE - is standard output. Exit code 0\n"
           "on success, 1 when the download failed (the reason goes to standard error),\n"
           "2 for a wrong command line. \"-o FILE URL\" is the same as \"URL FILE\".\n"
           "\n"
           "  -v, --verbose             show the request and response heads, each connect,\n"
           "                            what TLS negotiated and who signed a downloaded program\n"
           "  -L, --location            follow redirects\n"
           "      --max-redirs N        follow at most N redirects (default 14; 0: none)\n"
           "      --connect-timeout S   give up a connect after S seconds (fractions allowed)\n"
           "      --read-timeout S      give up when no byte arrives for S seconds\n"
           "      --timeout S           both of the above\n"
           "  -m, --max-time S          give up when the whole transfer takes more than S seconds\n"
           "  -Y, --speed-limit N       give up when fewer than N bytes a second arrive for the\n"
           "                            time of -y (default 30 seconds)\n"
           "  -y, --speed-time T        the seconds of -Y (alone: 1 byte a second over T seconds)\n"
           "  -u, --user USER:PASSWORD  answer the server's Basic challenge\n"
           "  -x, --proxy [http://][USER:PASSWORD@]HOST[:PORT]\n"
           "                            go through an HTTP proxy (Basic credentials if given);\n"
           "                            without -x, http_proxy (https_proxy for https) names one,\n"
           "                            else on Windows the Internet options' proxy\n"
           "      --noproxy LIST        reach these hosts directly (names, .domains, addresses,\n"
           "                            * for all); without it, no_proxy or NO_PROXY past -x\n"
           "                            and the variables\n"
           "      --cacert FILE         trust the CA certificates in FILE (PEM) as well\n"
           "      --same-publisher-as PROGRAM\n"
           "                            when PROGRAM's signature verifies, keep FILE unless the\n"
           "                            download is signed with its key, or by a certificate of\n"
           "                            the same subject that chains to a trusted root\n"
           "      --publisher-key HEX   keep FILE unless the download is signed with this key\n"
           "                            (SHA-256 of its public key; repeatable)\n"
           "      --http1.0             send HTTP/1.0 requests\n"
           "      --progress            show the progress meter even when not on a terminal\n"
           "  -s, --silent              no progress meter\n"
           "  -o, --output FILE         write to FILE (- for standard output)\n"
           "  -h, --help                this text\n"
           "      --version             the program's name and version\n"
           "  --                        ends the options\n";
}
