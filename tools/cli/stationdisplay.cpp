#include "stationdisplay.h"

#include "cliplatform.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr size_t g_nBarWidth = 20;
constexpr size_t g_nLabelMax = 24;
constexpr size_t g_nIdentMax = 32;

std::string RateText(double dRate)
{
    char sz[32];
    if (dRate <= 0)
        return "";
    if (dRate >= 1e6)
        snprintf(sz, sizeof sz, "%.2f MB/s", dRate / 1e6);
    else
        snprintf(sz, sizeof sz, "%.1f kB/s", dRate / 1e3);
    return sz;
}

std::string Padded(const std::string& str, size_t nWidth)
{
    return str.size() >= nWidth ? str.substr(0, nWidth)
                                : str + std::string(nWidth - str.size(), ' ');
}

} // namespace

std::string CLiveBlock::Redraw(const std::vector<std::string>& lines, unsigned nColumns)
{
    std::string strOut;
    if (m_nDrawn > 0)
        strOut += "\r\x1b[" + std::to_string(m_nDrawn) + "A";
    const size_t nMax = nColumns > 1 ? nColumns - 1 : 1;
    for (const std::string& strLine : lines)
        strOut += strLine.substr(0, nMax) + "\x1b[K\n";
    if (lines.size() < m_nDrawn)
        strOut += "\x1b[J";
    m_nDrawn = lines.size();
    return strOut;
}

std::string CLiveBlock::Erase()
{
    if (m_nDrawn == 0)
        return std::string();
    const std::string strOut = "\r\x1b[" + std::to_string(m_nDrawn) + "A\x1b[J";
    m_nDrawn = 0;
    return strOut;
}

CStationDisplay::CStationDisplay(FILE* pOut, FILE* pErr, bool bLive)
    : m_pOut(pOut)
    , m_pErr(pErr)
    , m_bLive(bLive)
{ }

std::string CStationDisplay::RowText(const SLiveRow& row, size_t nLabelWidth, size_t nIdentWidth)
{
    const uint32_t nShown = std::min(row.nAcked, row.nFrames);
    const size_t nFilled = row.nFrames ? size_t { nShown } * g_nBarWidth / row.nFrames : 0;
    char szFrames[32];
    snprintf(szFrames, sizeof szFrames, "%5u/%-5u", row.nAcked, row.nFrames);
    return Padded(row.strLabel, nLabelWidth) + "  " + Padded(row.strIdent, nIdentWidth) + "  ["
        + std::string(nFilled, '#') + std::string(g_nBarWidth - nFilled, '.') + "] " + szFrames
        + " " + Padded(RateText(row.dRate), 10) + "  " + row.strState;
}

std::vector<std::string> CStationDisplay::Lines(unsigned nRows) const
{
    size_t nLabelWidth = 0;
    size_t nIdentWidth = 0;
    for (const auto& [nId, row] : m_rows) {
        nLabelWidth = std::max(nLabelWidth, std::min(row.strLabel.size(), g_nLabelMax));
        nIdentWidth = std::max(nIdentWidth, std::min(row.strIdent.size(), g_nIdentMax));
    }
    // More rows than the terminal holds cannot be redrawn in place: the rest is counted.
    const size_t nFit = nRows > 2 ? nRows - 2 : 1;
    std::vector<std::string> lines;
    for (const auto& [nId, row] : m_rows) {
        if (lines.size() + 1 == nFit && m_rows.size() > nFit) {
            lines.push_back("... and " + std::to_string(m_rows.size() - lines.size()) + " more");
            break;
        }
        lines.push_back(RowText(row, nLabelWidth, nIdentWidth));
    }
    lines.push_back(m_strTally);
    return lines;
}

void CStationDisplay::SetRow(unsigned nId, const SLiveRow& row)
{
    m_rows[nId] = row;
    m_bDirty = true;
}

void CStationDisplay::RemoveRow(unsigned nId)
{
    m_bDirty = m_rows.erase(nId) > 0 || m_bDirty;
}

void CStationDisplay::SetTally(const std::string& strTally)
{
    m_bDirty = m_bDirty || strTally != m_strTally;
    m_strTally = strTally;
}

void CStationDisplay::Draw()
{
    if (!m_bLive || !m_bDirty)
        return;
    m_bDirty = false;
    unsigned nColumns = 100;
    unsigned nRows = 40;
    TerminalSize(m_pErr, nColumns, nRows);
    fputs(m_block.Redraw(Lines(nRows), nColumns).c_str(), m_pErr);
    fflush(m_pErr);
}

void CStationDisplay::Clear()
{
    if (!m_bLive)
        return;
    fputs(m_block.Erase().c_str(), m_pErr);
    fflush(m_pErr);
    m_bLive = false;
}

void CStationDisplay::Event(const std::string& strLine)
{
    if (m_bLive)
        return;
    fprintf(m_pErr, "%s\n", strLine.c_str());
    fflush(m_pErr);
}

bool CStationDisplay::Result(const std::string& strLine)
{
    // Output and live lines may share the terminal: the result goes above the block.
    if (m_bLive) {
        fputs(m_block.Erase().c_str(), m_pErr);
        fflush(m_pErr);
        m_bDirty = true;
    }
    errno = 0;
    const bool bWritten = fprintf(m_pOut, "%s\n", strLine.c_str()) >= 0 && fflush(m_pOut) == 0;
    const int nError = errno;
    Draw();
    errno = nError;
    return bWritten;
}
