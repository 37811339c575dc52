#include "deadline.h"

#include <climits>

namespace {
// Far enough for any write limit (8 MB at 1 s a byte), near enough not to overflow time_point.
constexpr uint64_t g_nMaxMs = uint64_t(1) << 40;
} // namespace

CDeadline::CDeadline(uint64_t nMs, Clock::time_point tpNow)
    : m_tpEnd(tpNow + std::chrono::milliseconds(nMs < g_nMaxMs ? nMs : g_nMaxMs))
{ }

int CDeadline::PollTimeoutMs(Clock::time_point tpNow) const
{
    if (tpNow >= m_tpEnd)
        return 0;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(m_tpEnd - tpNow).count();
    const long long nMs = (ns + 999999) / 1000000;
    return nMs > INT_MAX ? INT_MAX : static_cast<int>(nMs);
}
