#include "progressmeter.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string FormatRate(double dRate)
{
    char sz[32];
    if (dRate >= 1e6)
        snprintf(sz, sizeof sz, "%.2f MB/s", dRate / 1e6);
    else
        snprintf(sz, sizeof sz, "%.1f kB/s", dRate / 1e3);
    return sz;
}

} // namespace

void CProgressMeter::Start(uint32_t nFrames, uint64_t nImageBytes, double dNowSec)
{
    m_nFrames = nFrames;
    m_nImageBytes = nImageBytes;
    m_nFrame = 0;
    m_dStartSec = m_dNowSec = dNowSec;
    m_nTenthsShown = 0;
    m_bStarted = true;
}

void CProgressMeter::Update(uint32_t nFrame, double dNowSec)
{
    m_nFrame = nFrame;
    m_dNowSec = dNowSec;
}

uint64_t CProgressMeter::BytesDone() const
{
    return std::min<uint64_t>(uint64_t { m_nFrame } * 4096, m_nImageBytes);
}

double CProgressMeter::RateBytesPerSec() const
{
    double dElapsed = m_dNowSec - m_dStartSec;
    return dElapsed > 0 ? static_cast<double>(BytesDone()) / dElapsed : 0.0;
}

std::string CProgressMeter::BarText(unsigned nBarWidth) const
{
    uint32_t nShown = std::min(m_nFrame, m_nFrames);
    unsigned nFilled
        = m_nFrames ? static_cast<unsigned>(uint64_t { nShown } * nBarWidth / m_nFrames) : 0;
    std::string str = "[" + std::string(nFilled, '#') + std::string(nBarWidth - nFilled, '.') + "]";
    char sz[160];
    snprintf(sz, sizeof sz, " %u/%u frames  %llu/%llu B  %s", m_nFrame, m_nFrames,
        static_cast<unsigned long long>(BytesDone()),
        static_cast<unsigned long long>(m_nImageBytes), FormatRate(RateBytesPerSec()).c_str());
    str += sz;
    double dRate = RateBytesPerSec();
    if (dRate > 0 && BytesDone() < m_nImageBytes) {
        double dLeft = static_cast<double>(m_nImageBytes - BytesDone()) / dRate;
        unsigned long nLeft = dLeft < 359999 ? static_cast<unsigned long>(dLeft + 0.5) : 359999;
        snprintf(sz, sizeof sz, "  %lu:%02lu left", nLeft / 60, nLeft % 60);
        str += sz;
    }
    return str;
}

std::string CProgressMeter::PlainText() const
{
    char sz[160];
    snprintf(sz, sizeof sz, "progress: %u/%u frames, %llu/%llu bytes, %s", m_nFrame, m_nFrames,
        static_cast<unsigned long long>(BytesDone()),
        static_cast<unsigned long long>(m_nImageBytes), FormatRate(RateBytesPerSec()).c_str());
    return sz;
}

bool CProgressMeter::TakePlainStep()
{
    if (!m_bStarted || m_nFrames == 0)
        return false;
    unsigned nTenths
        = static_cast<unsigned>(uint64_t { std::min(m_nFrame, m_nFrames) } * 10 / m_nFrames);
    if (nTenths <= m_nTenthsShown)
        return false;
    m_nTenthsShown = nTenths;
    return true;
}
