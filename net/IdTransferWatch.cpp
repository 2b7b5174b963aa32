#include "net/IdTransferWatch.h"

#include "net/IdExceptionCore.h"

#include <algorithm>
#include <limits>

void TIdTransferWatch::Start(std::int32_t timeLimit, std::int32_t lowSpeedLimit,
                             std::int32_t lowSpeedTime, const std::atomic<bool>* abort,
                             Clock::time_point now) {
    abort_ = abort;
    deadline_ =
        timeLimit > 0 ? now + std::chrono::milliseconds(timeLimit) : Clock::time_point::max();
    const bool paced = lowSpeedLimit > 0 && lowSpeedTime > 0;
    lowSpeedLimit_ = paced ? lowSpeedLimit : 0;
    lowSpeedTime_ = paced ? lowSpeedTime : 0;
    spanBytesDue_ = static_cast<std::int64_t>(lowSpeedLimit_) * lowSpeedTime_;
    spanStart_ = now;
    spanBytes_ = 0;
}

void TIdTransferWatch::Received(std::int64_t count, Clock::time_point now) {
    if (spanBytesDue_ == 0 || count <= 0) return;
    spanBytes_ += count;
    if (spanBytes_ < spanBytesDue_) return;
    spanStart_ = now;
    spanBytes_ = 0;
}

TIdTransferWatch::Clock::time_point TIdTransferWatch::Until() const {
    if (spanBytesDue_ == 0) return deadline_;
    return std::min(deadline_, spanStart_ + std::chrono::seconds(lowSpeedTime_));
}

std::int32_t TIdTransferWatch::Bound(std::int32_t limit, Clock::time_point now) const {
    const std::int32_t bound = BoundTo(Until(), limit, now);
    if (!abort_) return bound;
    return bound < 0 ? AbortLatency : std::min(bound, AbortLatency);
}

std::int32_t TIdTransferWatch::ConnectBound(std::int32_t limit, Clock::time_point now) const {
    return BoundTo(deadline_, limit, now);
}

std::int32_t TIdTransferWatch::BoundTo(Clock::time_point until, std::int32_t limit,
                                       Clock::time_point now) {
    if (until == Clock::time_point::max()) return limit;
    if (until <= now) return 0;
    // Rounded up, so that a wait of the result has seen the bound pass.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    const std::int32_t bound = static_cast<std::int32_t>(
        std::min<std::int64_t>(left, std::numeric_limits<std::int32_t>::max()));
    return limit < 0 ? bound : std::min(limit, bound);
}

void TIdTransferWatch::Check(Clock::time_point now) const {
    if (AbortRequested()) throw EIdTransferAborted();
    if (now >= deadline_) throw EIdTransferTimeout();
    if (spanBytesDue_ != 0 && now - spanStart_ >= std::chrono::seconds(lowSpeedTime_))
        throw EIdLowSpeedTimeout(
            Format("Transfer too slow: under %d bytes per second for %d seconds", lowSpeedLimit_,
                   lowSpeedTime_));
}
