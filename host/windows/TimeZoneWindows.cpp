#include "host/TimeZone.h"

#include <windows.h>

std::optional<int> LocalOffsetFromUTCMinutes() {
    TIME_ZONE_INFORMATION zone{};
    // UTC = local time + bias, where the bias includes the part now in force.
    switch (::GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_INVALID:
        return std::nullopt;
    case TIME_ZONE_ID_STANDARD:
        return -static_cast<int>(zone.Bias + zone.StandardBias);
    case TIME_ZONE_ID_DAYLIGHT:
        return -static_cast<int>(zone.Bias + zone.DaylightBias);
    default:
        return -static_cast<int>(zone.Bias);
    }
}
