#include "host/TimeZone.h"

#include <ctime>

std::optional<int> LocalOffsetFromUTCMinutes() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) return std::nullopt;
    return static_cast<int>(local.tm_gmtoff / 60);
}
