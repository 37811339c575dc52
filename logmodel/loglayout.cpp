#include "loglayout.h"

#include "logstore.h"

#include <algorithm>
#include <cmath>

namespace {

// Lines longer than this are walked from noted row starts, not from their start.
constexpr int64_t g_nLongLine = 16 * 1024;
constexpr int g_nMarkRows = 64;
// A row of cells that take no room (combining marks) still ends somewhere.
constexpr int64_t g_nMaxRowBytes = 4096;
constexpr qreal g_dBoxPad = 3;

} // namespace

CLogLayout::CLogLayout(const CLogStore& store)
    : m_store(store)
{ }

void CLogLayout::SetFonts(const QFont& font, const QFont& boxFont)
{
    m_font = font;
    m_boxFont = boxFont;
    const QFontMetricsF metrics(m_font);
    for (int n = 0; n < 128; ++n)
        m_adAscii[n] = metrics.horizontalAdvance(QChar(char16_t(n)));
    m_dTab = 8 * metrics.horizontalAdvance(QLatin1Char(' '));
    m_dRowHeight = std::ceil(metrics.height()) + 2;
    m_dAscent = std::ceil(metrics.ascent()) + 1;
    m_hashWidths.clear();
    m_hashBoxes.clear();
    Invalidate();
}

void CLogLayout::SetWidth(qreal dWidth)
{
    if (dWidth == m_dWidth)
        return;
    m_dWidth = dWidth;
    Invalidate();
}

void CLogLayout::SetUtf8(bool bUtf8)
{
    if (bUtf8 == m_bUtf8)
        return;
    m_bUtf8 = bUtf8;
    Invalidate();
}

void CLogLayout::Invalidate()
{
    ++m_nGeneration;
    m_nMarkedLine = -1;
    m_vecMarks.clear();
}

qreal CLogLayout::BoxWidth(const SLogCell& cell) const
{
    const quint64 nKey = (quint64(cell.m_eKind) << 32) | cell.m_nChar;
    auto it = m_hashBoxes.constFind(nKey);
    if (it != m_hashBoxes.constEnd())
        return *it;
    const qreal dWidth
        = std::ceil(QFontMetricsF(m_boxFont).horizontalAdvance(CLogCodec::BoxText(cell)))
        + 2 * g_dBoxPad + 2;
    m_hashBoxes.insert(nKey, dWidth);
    return dWidth;
}

qreal CLogLayout::CellWidth(const SLogCell& cell, qreal dX) const
{
    switch (cell.m_eKind) {
    case SLogCell::Glyph: {
        if (cell.m_nChar < 128)
            return m_adAscii[cell.m_nChar];
        auto it = m_hashWidths.constFind(cell.m_nChar);
        if (it != m_hashWidths.constEnd())
            return *it;
        const qreal dWidth
            = QFontMetricsF(m_font).horizontalAdvance(QString::fromUcs4(&cell.m_nChar, 1));
        m_hashWidths.insert(cell.m_nChar, dWidth);
        return dWidth;
    }
    case SLogCell::Tab:
        return (std::floor(dX / m_dTab) + 1) * m_dTab - dX;
    case SLogCell::Break:
        return 0;
    default:
        return BoxWidth(cell);
    }
}

int64_t CLogLayout::LayoutRow(int64_t nStart, std::vector<SPlacedCell>* pCells, bool* pBreak) const
{
    if (pCells)
        pCells->clear();
    if (pBreak)
        *pBreak = false;
    const int64_t nSize = m_store.Size();
    int64_t nPos = nStart;
    qreal dX = 0;
    int64_t nSpanLength = 0;
    const unsigned char* pSpan = nullptr;
    int64_t nSpanStart = 0;
    unsigned char abyEdge[4];
    while (nPos < nSize && nPos - nStart < g_nMaxRowBytes) {
        if (!pSpan || nPos - nSpanStart >= nSpanLength) {
            pSpan = reinterpret_cast<const unsigned char*>(m_store.Span(nPos, &nSpanLength));
            nSpanStart = nPos;
        }
        const int64_t nInSpan = nSpanLength - (nPos - nSpanStart);
        const unsigned char* p = pSpan + (nPos - nSpanStart);
        int nAvail = int(std::min<int64_t>(4, nSize - nPos));
        if (nInSpan < nAvail) {
            // A cell may reach into the next block.
            nAvail = int(m_store.Read(nPos, reinterpret_cast<char*>(abyEdge), nAvail));
            p = abyEdge;
        }
        const SLogCell cell = CLogCodec::Decode(p, nAvail, m_bUtf8, m_store.LineEnds());
        const qreal dWidth = CellWidth(cell, dX);
        if (dX + dWidth > m_dWidth && nPos > nStart)
            break;
        if (pCells)
            pCells->push_back(SPlacedCell { cell, nPos, dX, dWidth });
        dX += dWidth;
        nPos += cell.m_nBytes;
        if (cell.m_eKind == SLogCell::Break) {
            if (pBreak)
                *pBreak = true;
            break;
        }
    }
    return nPos;
}

int64_t CLogLayout::MarkBefore(int64_t nLineStart, int64_t nPos) const
{
    if (m_nMarkedLine != nLineStart) {
        m_nMarkedLine = nLineStart;
        m_vecMarks.assign(1, nLineStart);
    }
    // Note row starts up to nPos. Rows that end close to the end of the log are not noted: the
    // bytes still to come may change how their last cell decodes.
    const int64_t nStable = m_store.Size() - 4;
    while (m_vecMarks.back() < nPos) {
        int64_t nRow = m_vecMarks.back();
        bool bBreak = false;
        int n = 0;
        for (; n < g_nMarkRows && !bBreak; ++n) {
            const int64_t nNext = LayoutRow(nRow, nullptr, &bBreak);
            if (nNext > nStable)
                break;
            nRow = nNext;
        }
        if (n < g_nMarkRows || bBreak)
            break;
        m_vecMarks.push_back(nRow);
    }
    const auto it = std::upper_bound(m_vecMarks.begin(), m_vecMarks.end(), nPos);
    return *(it - 1);
}

int64_t CLogLayout::RowStartOf(int64_t nPos) const
{
    const int64_t nSize = m_store.Size();
    nPos = std::clamp<int64_t>(nPos, 0, nSize);
    const int64_t nLineStart = m_store.LineStart(m_store.LineOf(nPos));
    int64_t nRow = nPos - nLineStart > g_nLongLine ? MarkBefore(nLineStart, nPos) : nLineStart;
    for (;;) {
        bool bBreak = false;
        const int64_t nNext = LayoutRow(nRow, nullptr, &bBreak);
        if (nPos < nNext || nNext == nRow || (nNext >= nSize && !bBreak))
            return nRow;
        nRow = nNext;
    }
}

int64_t CLogLayout::NextRow(int64_t nRowStart) const
{
    bool bBreak = false;
    const int64_t nNext = LayoutRow(nRowStart, nullptr, &bBreak);
    if (nNext == nRowStart || (nNext >= m_store.Size() && !bBreak))
        return -1;
    return nNext;
}

int64_t CLogLayout::PrevRow(int64_t nRowStart) const
{
    return nRowStart <= 0 ? -1 : RowStartOf(nRowStart - 1);
}

int64_t CLogLayout::MoveRows(int64_t nRowStart, int64_t nRows) const
{
    for (; nRows > 0; --nRows) {
        const int64_t nNext = NextRow(nRowStart);
        if (nNext < 0)
            break;
        nRowStart = nNext;
    }
    // Back: the row starts before nRowStart on its line (or since the noted row start before
    // it) come from one walk forward, not one walk per row.
    std::vector<int64_t> vecRows;
    while (nRows < 0 && nRowStart > 0) {
        const int64_t nPos = nRowStart - 1;
        const int64_t nLineStart = m_store.LineStart(m_store.LineOf(nPos));
        vecRows.clear();
        for (int64_t nRow
             = nPos - nLineStart > g_nLongLine ? MarkBefore(nLineStart, nPos) : nLineStart;
             nRow < nRowStart;) {
            vecRows.push_back(nRow);
            bool bBreak = false;
            const int64_t nNext = LayoutRow(nRow, nullptr, &bBreak);
            if (nNext == nRow)
                break;
            nRow = nNext;
        }
        if (int64_t(vecRows.size()) >= -nRows)
            return vecRows[vecRows.size() - size_t(-nRows)];
        nRows += int64_t(vecRows.size());
        nRowStart = vecRows.front();
    }
    return nRowStart;
}

qreal CLogLayout::XOf(int64_t nRowStart, int64_t nPos) const
{
    std::vector<SPlacedCell> vecCells;
    LayoutRow(nRowStart, &vecCells);
    qreal dX = 0;
    for (const SPlacedCell& placed : vecCells) {
        if (placed.m_nPos >= nPos || placed.m_cell.m_eKind == SLogCell::Break)
            return placed.m_dX;
        dX = placed.m_dX + placed.m_dWidth;
    }
    return dX;
}

int64_t CLogLayout::PosAt(int64_t nRowStart, qreal dX) const
{
    std::vector<SPlacedCell> vecCells;
    bool bBreak = false;
    const int64_t nEnd = LayoutRow(nRowStart, &vecCells, &bBreak);
    for (const SPlacedCell& placed : vecCells) {
        if (placed.m_cell.m_eKind == SLogCell::Break || dX < placed.m_dX + placed.m_dWidth / 2)
            return placed.m_nPos;
    }
    // Past the end of a wrapped row: before its last cell, so the caret stays on this row.
    if (!bBreak && nEnd < m_store.Size() && !vecCells.empty())
        return vecCells.back().m_nPos;
    return nEnd;
}
