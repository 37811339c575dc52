#include "logtextwindow.h"

#include "logcodec.h"
#include "logstore.h"

#include <algorithm>

CLogTextWindow::CLogTextWindow(const CLogStore& store)
    : m_store(store)
{ }

int64_t CLogTextWindow::Anchor(int64_t nAround, bool bUtf8) const
{
    // Whole lines back to g_nContext before nAround; inside a longer line, the cell there.
    const int64_t nEarliest = std::max<int64_t>(0, nAround - g_nContext);
    int64_t nLine = m_store.LineOf(nAround);
    while (nLine > 0 && m_store.LineStart(nLine - 1) >= nEarliest)
        --nLine;
    const int64_t nFrom = m_store.LineStart(nLine);
    return nFrom >= nEarliest ? nFrom : CLogCodec::CellStartNear(m_store, nEarliest, bUtf8);
}

CLogTextWindow::SChange CLogTextWindow::Update(int64_t nAround, bool bUtf8, bool bMoved)
{
    const int64_t nSize = m_store.Size();
    nAround = std::clamp<int64_t>(nAround, 0, nSize);
    if (bMoved || !m_bPlaced || m_nFrom > nSize || nAround < m_nFrom
        || nAround > m_nFrom + g_nMaxBytes)
        m_nFrom = Anchor(nAround, bUtf8);
    m_bPlaced = true;

    // The end: the log's, less what may still change, or a cell edge g_nMaxBytes on.
    unsigned char abTail[4];
    const int nTail = int(m_store.Read(std::max<int64_t>(0, nSize - 4),
        reinterpret_cast<char*>(abTail), std::min<int64_t>(4, nSize)));
    int64_t nTo = nSize - CLogCodec::UnsettledTail(abTail, nTail, bUtf8, m_store.LineEnds());
    if (nTo - m_nFrom > g_nMaxBytes)
        nTo = CLogCodec::CellStartNear(m_store, m_nFrom + g_nMaxBytes, bUtf8);
    nTo = std::max(nTo, m_nFrom);

    // The window's bytes and the few after it that its last cell may look at.
    const QByteArray baBytes = m_store.Bytes(m_nFrom, std::min(nSize, nTo + 3));
    const auto* p = reinterpret_cast<const unsigned char*>(baBytes.constData());
    const int nBytes = int(nTo - m_nFrom);
    QString strText;
    strText.reserve(nBytes);
    m_vecCellBytes.clear();
    m_vecCellText.clear();
    for (int n = 0; n < nBytes;) {
        const SLogCell cell = CLogCodec::Decode(
            p + n, std::min(4, int(baBytes.size()) - n), bUtf8, m_store.LineEnds());
        m_vecCellBytes.push_back(n);
        m_vecCellText.push_back(int(strText.size()));
        CLogCodec::AppendCellText(cell, strText);
        n += cell.m_nBytes;
    }
    m_nTo = nTo;
    m_vecCellBytes.push_back(nBytes);
    m_vecCellText.push_back(int(strText.size()));

    // The change, as the text that differs between what was and what is.
    SChange change;
    const QString& strOld = m_strText;
    const qsizetype nShorter = std::min(strOld.size(), strText.size());
    qsizetype nHead = 0;
    while (nHead < nShorter && strOld[nHead] == strText[nHead])
        ++nHead;
    qsizetype nTailSame = 0;
    while (nTailSame < nShorter - nHead
        && strOld[strOld.size() - 1 - nTailSame] == strText[strText.size() - 1 - nTailSame])
        ++nTailSame;
    change.m_nPos = int(nHead);
    change.m_strRemoved = strOld.mid(nHead, strOld.size() - nHead - nTailSame);
    change.m_strInserted = strText.mid(nHead, strText.size() - nHead - nTailSame);
    m_strText = std::move(strText);
    return change;
}

int CLogTextWindow::OffsetOf(int64_t nPos) const
{
    if (m_vecCellBytes.empty())
        return 0;
    const int64_t nRel = std::clamp<int64_t>(nPos - m_nFrom, 0, m_nTo - m_nFrom);
    const auto it = std::upper_bound(m_vecCellBytes.begin(), m_vecCellBytes.end(), int32_t(nRel));
    return m_vecCellText[size_t(it - m_vecCellBytes.begin()) - 1];
}

int64_t CLogTextWindow::PosOf(int nOffset) const
{
    if (m_vecCellText.empty())
        return m_nFrom;
    const int nClamped = std::clamp(nOffset, 0, int(m_strText.size()));
    const auto it = std::upper_bound(m_vecCellText.begin(), m_vecCellText.end(), nClamped);
    return m_nFrom + m_vecCellBytes[size_t(it - m_vecCellText.begin()) - 1];
}
