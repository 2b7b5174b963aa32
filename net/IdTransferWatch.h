#pragma once
// The bounds of one whole transfer, across every connection and redirect it
// takes: a time limit for all of it, and a pace it must keep (fewer than
// LowSpeedLimit bytes a second for LowSpeedTime seconds in a row fails, as
// curl's --speed-limit and --speed-time have it). A handler asks the watch how
// long a wait may last and tells it every byte that arrives, so the bounds hold
// wherever the client waits: connect, handshake, head and body alike.
//
// The pace is kept over spans: a span starts when the transfer does and again
// whenever the span under way has brought LowSpeedLimit * LowSpeedTime bytes.
// A span that lasts LowSpeedTime seconds without them is a failure, so the
// seconds just past brought fewer bytes than the pace asks for.
//
// An abort signal, set from another thread, ends the transfer at its next
// wait: while one is watched, no wait lasts longer than AbortLatency.

#include <atomic>
#include <chrono>
#include <cstdint>

class TIdTransferWatch {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::int32_t AbortLatency = 100; // milliseconds

    // Starts the clocks. A zero (or negative) time limit in milliseconds, or a
    // zero low-speed limit or time, sets no such bound. abort, when given,
    // must outlive the transfer.
    void Start(std::int32_t timeLimit, std::int32_t lowSpeedLimit, std::int32_t lowSpeedTime,
               const std::atomic<bool>* abort = nullptr, Clock::time_point now = Clock::now());
    // Bytes the transfer received.
    void Received(std::int64_t count, Clock::time_point now = Clock::now());
    // The longest a wait asked for limit milliseconds (-2: no limit) may last,
    // so that it ends when a bound passes.
    std::int32_t Bound(std::int32_t limit, Clock::time_point now = Clock::now()) const;
    // The same for a connect, which only the time limit bounds: no bytes
    // come while it runs, and it has a limit of its own.
    std::int32_t ConnectBound(std::int32_t limit, Clock::time_point now = Clock::now()) const;
    // Raises EIdTransferAborted once the abort signal is set, and
    // EIdTransferTimeout or EIdLowSpeedTimeout once a bound has passed.
    void Check(Clock::time_point now = Clock::now()) const;
    bool Abortable() const { return abort_ != nullptr; }
    bool AbortRequested() const { return abort_ && abort_->load(std::memory_order_relaxed); }

private:
    // When the first bound passes unless bytes arrive.
    Clock::time_point Until() const;
    static std::int32_t BoundTo(Clock::time_point until, std::int32_t limit, Clock::time_point now);

    Clock::time_point deadline_ = Clock::time_point::max();
    std::int32_t lowSpeedLimit_ = 0;
    std::int32_t lowSpeedTime_ = 0;
    std::int64_t spanBytesDue_ = 0; // what one span must bring; 0: no pace kept
    Clock::time_point spanStart_{};
    std::int64_t spanBytes_ = 0;
    const std::atomic<bool>* abort_ = nullptr;
};
