#pragma once
// The machine's current offset of local time from UTC.

#include <optional>

// Minutes to add to UTC to get local time (daylight saving as now in force);
// none when the operating system cannot tell.
std::optional<int> LocalOffsetFromUTCMinutes();
