#include "http/IdDateTime.h"

#include "host/Exception.h"
#include "host/TimeZone.h"
#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"

#include <chrono>
#include <cmath>
#include <cstdint>

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr double kMinutesPerDay = 1440.0;
constexpr std::int64_t kMsPerDay = 86400000;
// Serial day of 1970-01-01.
constexpr std::int64_t kUnixEpochDay = 25569;

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Plain decimal digits only: dates have no signs, prefixes or hexadecimal.
std::optional<int> Digits(const std::string& text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

int MonthNumber(const std::string& word) {
    for (int i = 0; i < 12; ++i)
        if (TextIsSame(word, kMonthNames[i])) return i + 1;
    return 0;
}

std::string TrimLeft(const std::string& text) {
    std::size_t b = 0;
    while (b < text.size() && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    return text.substr(b);
}

// Takes the next word up to the delimiter (leading blanks skipped) off the text.
std::string NextWord(std::string& text, char delimiter) {
    text = TrimLeft(text);
    const auto at = text.find(delimiter);
    std::string word = text.substr(0, at);
    text = at == std::string::npos ? std::string() : text.substr(at + 1);
    return Trim(word);
}

// Removes a free-standing "AM" or "PM" from the text; returns which was found.
std::string TakeMeridiem(std::string& text) {
    const std::string upper = UpperCase(text);
    for (const char* marker : {"AM", "PM"}) {
        for (auto at = upper.find(marker); at != std::string::npos;
             at = upper.find(marker, at + 1)) {
            const bool startsWord = at == 0 || upper[at - 1] == ' ';
            const bool endsWord = at + 2 == upper.size() || upper[at + 2] == ' ';
            if (startsWord && endsWord) {
                text.erase(at, 2);
                return marker;
            }
        }
    }
    return {};
}

struct ParsedDate {
    std::optional<TDateTime> datePart; // none when the date part did not parse
    std::string zone;                  // what was left after the date part
};

std::optional<TDateTime> ReadDatePart(std::string& s) {
    s = Trim(s);
    if (s.size() >= 3) {
        for (const char* name : kDayNames) {
            if (!TextIsSame(s.substr(0, 3), name)) continue;
            if (s.size() > 3 && s[3] == ',') s.insert(s.begin() + 4, ' ');
            NextWord(s, ' ');
            break;
        }
    }

    const auto dash = s.find('-');
    const auto space = s.find(' ');
    const char separator = dash != std::string::npos && dash >= 1 && dash < space ? '-' : ' ';

    std::string first = NextWord(s, separator);
    int month = MonthNumber(first);
    std::string dayWord;
    if (month != 0) {
        dayWord = NextWord(s, separator);
    } else {
        dayWord = first;
        month = MonthNumber(NextWord(s, separator));
    }
    const auto day = Digits(dayWord);
    if (month == 0 || !day) return std::nullopt;

    std::string yearWord = NextWord(s, ' ');
    std::string timeWord;
    if (!Digits(yearWord)) {
        timeWord = yearWord;
        yearWord = NextWord(s, ' ');
    } else {
        std::string rest = TrimLeft(s);
        const std::string peek = rest.substr(0, rest.find(' '));
        if (peek.find(':') != std::string::npos) timeWord = NextWord(s, ' ');
    }
    auto year = Digits(yearWord);
    if (!year) return std::nullopt;
    if (*year < 80)
        *year += 2000;
    else if (*year < 100)
        *year += 1900;

    int hour = 0, minute = 0, second = 0;
    if (!timeWord.empty()) {
        std::string suffix;
        const std::string upper = UpperCase(timeWord);
        if (upper.size() > 2 && (upper.ends_with("AM") || upper.ends_with("PM"))) {
            suffix = upper.substr(upper.size() - 2);
            timeWord.resize(timeWord.size() - 2);
        }
        const auto h = Digits(NextWord(timeWord, ':'));
        const auto m = Digits(NextWord(timeWord, ':'));
        const auto sec = timeWord.empty() ? std::optional<int>(0) : Digits(Trim(timeWord));
        if (!h || !m || !sec) return std::nullopt;
        hour = *h;
        minute = *m;
        second = *sec;
        if (suffix.empty()) suffix = TakeMeridiem(s);
        if (suffix == "AM" && hour == 12) hour = 0;
        if (suffix == "PM" && hour >= 1 && hour <= 11) hour += 12;
    }
    return TryEncodeDateTime(*year, month, *day, hour, minute, second);
}

ParsedDate ParseHttpDate(const std::string& text) {
    ParsedDate parsed;
    std::string rest = text;
    parsed.datePart = ReadDatePart(rest);
    parsed.zone = Trim(rest);
    return parsed;
}

// "+hhmm" or "-hhmm" at the start of the zone text; other zones count as UTC.
int ZoneOffsetMinutes(const std::string& zone) {
    if (zone.size() <= 4 || (zone[0] != '+' && zone[0] != '-')) return 0;
    const auto hours = Digits(zone.substr(1, 2));
    const auto minutes = Digits(zone.substr(3, 2));
    if (!hours || !minutes) return 0;
    const int offset = *hours * 60 + *minutes;
    return zone[0] == '-' ? -offset : offset;
}

} // namespace

std::optional<TDateTime> TryEncodeDateTime(int year, int month, int day, int hour, int minute,
                                           int second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    const auto days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<double>(days + kUnixEpochDay) +
           (hour * 3600 + minute * 60 + second) / 86400.0;
}

TDateTime GMTToLocalDateTime(const std::string& text) {
    if (text.empty()) return 0;
    return GMTToLocalDateTime(text, LocalOffsetFromUTCMinutes());
}

TDateTime GMTToLocalDateTime(const std::string& text, std::optional<int> localOffsetMinutes) {
    if (text.empty()) return 0;
    const ParsedDate parsed = ParseHttpDate(text);
    if (!localOffsetMinutes) throw EIdFailedToRetreiveTimeZoneInfo();
    return parsed.datePart.value_or(0) - ZoneOffsetMinutes(parsed.zone) / kMinutesPerDay +
           *localOffsetMinutes / kMinutesPerDay;
}

std::optional<TDateTime> HttpDateToUTC(const std::string& text) {
    if (text.empty()) return std::nullopt;
    const ParsedDate parsed = ParseHttpDate(text);
    if (!parsed.datePart) return std::nullopt;
    return *parsed.datePart - ZoneOffsetMinutes(parsed.zone) / kMinutesPerDay;
}

std::string DateTimeGMTToHttpStr(TDateTime value) {
    const auto totalMs = static_cast<std::int64_t>(std::llround(value * kMsPerDay));
    std::int64_t days = totalMs / kMsPerDay;
    std::int64_t msOfDay = totalMs % kMsPerDay;
    if (msOfDay < 0) {
        msOfDay += kMsPerDay;
        --days;
    }
    int year = 0, month = 0, day = 0;
    CivilFromDays(days - kUnixEpochDay, year, month, day);
    // Serial day 0 was a Saturday.
    const auto weekday = static_cast<std::size_t>(((days % 7) + 7 + 6) % 7);
    const auto seconds = msOfDay / 1000;
    const std::string time =
        Format("%.2d:%.2d:%.2d", static_cast<int>(seconds / 3600),
               static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return Format("%s, %.2d %s %.4d %s %s", kDayNames[weekday], day,
                  kMonthNames[static_cast<std::size_t>(month - 1)], year, time.c_str(), "GMT");
}

TDateTime NowUTC() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<double>(kUnixEpochDay) + static_cast<double>(ms) / kMsPerDay;
}

TDateTime NowLocal() {
    return NowUTC() + LocalOffsetFromUTCMinutes().value_or(0) / kMinutesPerDay;
}
