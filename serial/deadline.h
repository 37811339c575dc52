#pragma once

#include <chrono>
#include <cstdint>

// A point on the monotonic clock, handed to poll() as the time left.
class CDeadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit CDeadline(uint64_t nMs, Clock::time_point tpNow = Clock::now());

    bool Expired(Clock::time_point tpNow = Clock::now()) const { return tpNow >= m_tpEnd; }
    // Milliseconds left, rounded up so a poll never wakes just before the end, capped to int.
    int PollTimeoutMs(Clock::time_point tpNow = Clock::now()) const;

private:
    Clock::time_point m_tpEnd;
};
