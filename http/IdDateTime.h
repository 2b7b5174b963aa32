#pragma once
// Date-time values as days since 1899-12-30 (the fraction is the time of day),
// and the date texts of HTTP headers.

#include <optional>
#include <string>

using TDateTime = double;

// None for a date that does not exist or a time outside 00:00:00 to 23:59:59.
std::optional<TDateTime> TryEncodeDateTime(int year, int month, int day, int hour = 0,
                                           int minute = 0, int second = 0);

// A header date converted to local time: 0 for an empty text. A date that does
// not parse counts as 0 before the zone and the local offset are applied, so
// it never raises for bad text. Raises EIdFailedToRetreiveTimeZoneInfo when the
// machine's offset from UTC is unknown.
TDateTime GMTToLocalDateTime(const std::string& text);
// As above with the local offset given; none stands for an unknown offset.
TDateTime GMTToLocalDateTime(const std::string& text, std::optional<int> localOffsetMinutes);
// The UTC instant of a header date; none when the text is empty or its date
// part does not parse.
std::optional<TDateTime> HttpDateToUTC(const std::string& text);

// "Sun, 06 Nov 1994 08:49:37 GMT" written from the value as stored: no zone
// conversion is made, the caller passes UTC when it wants a true GMT text.
std::string DateTimeGMTToHttpStr(TDateTime value);

TDateTime NowUTC();
// UTC plus the machine's current offset (none taken as 0).
TDateTime NowLocal();
