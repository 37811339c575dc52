#include "logsearch.h"

#include "logstore.h"

#include <algorithm>

CLogSearch::CLogSearch(const CLogStore& store)
    : m_store(store)
{ }

void CLogSearch::Start(const CLogPattern& pattern, int64_t nFrom, bool bForward)
{
    m_pattern = pattern;
    m_bForward = bForward;
    m_nRevision = m_store.Revision();
    m_nEnd = m_store.Size();
    nFrom = std::clamp<int64_t>(nFrom, 0, m_nEnd);
    if (bForward) {
        m_aSegments[0] = { nFrom, m_nEnd };
        m_aSegments[1] = { 0, nFrom };
    } else {
        m_aSegments[0] = { 0, nFrom };
        m_aSegments[1] = { nFrom, m_nEnd };
    }
    m_nSegment = 0;
    m_nCursor = bForward ? m_aSegments[0].m_nFrom : m_aSegments[0].m_nTo;
    m_nLooked = 0;
    m_nMatchFrom = m_nMatchTo = -1;
    m_eState = pattern.IsEmpty() ? EState::NotFound : EState::Running;
}

double CLogSearch::Done() const
{
    if (m_eState != EState::Running)
        return 1;
    return m_nEnd > 0 ? double(m_nLooked) / double(m_nEnd) : 1;
}

CLogSearch::EState CLogSearch::Step(int64_t nBytes)
{
    if (m_eState != EState::Running)
        return m_eState;
    if (m_store.Revision() != m_nRevision) {
        m_eState = EState::Changed;
        return m_eState;
    }
    nBytes = std::max<int64_t>(nBytes, 1);
    while (nBytes > 0 && m_nSegment < 2) {
        const SSegment& segment = m_aSegments[m_nSegment];
        const int64_t nFrom
            = m_bForward ? m_nCursor : std::max(segment.m_nFrom, m_nCursor - nBytes);
        const int64_t nTo = m_bForward ? std::min(segment.m_nTo, m_nCursor + nBytes) : m_nCursor;
        int nLength = 0;
        const int64_t nHit = FindIn(nFrom, nTo, !m_bForward, &nLength);
        if (nHit >= 0) {
            m_nMatchFrom = nHit;
            m_nMatchTo = nHit + nLength;
            m_eState = EState::Found;
            return m_eState;
        }
        m_nLooked += nTo - nFrom;
        nBytes -= std::max<int64_t>(nTo - nFrom, 1);
        m_nCursor = m_bForward ? nTo : nFrom;
        if (m_nCursor == (m_bForward ? segment.m_nTo : segment.m_nFrom)) {
            ++m_nSegment;
            if (m_nSegment < 2)
                m_nCursor = m_bForward ? m_aSegments[1].m_nFrom : m_aSegments[1].m_nTo;
        }
    }
    if (m_nSegment == 2)
        m_eState = EState::NotFound;
    return m_eState;
}

int64_t CLogSearch::FindIn(int64_t nFrom, int64_t nTo, bool bLast, int* pLength)
{
    // Cut at the blocks' edges, looked through in the search's order.
    m_vecPieces.clear();
    for (int64_t nPos = nFrom; nPos < nTo;) {
        int64_t nLength = 0;
        if (!m_store.Span(nPos, &nLength))
            break;
        m_vecPieces.push_back(nPos);
        m_vecPieces.push_back(nPos + nLength);
        nPos += nLength;
    }
    const size_t nPieces = m_vecPieces.size() / 2;
    for (size_t k = 0; k < nPieces; ++k) {
        const size_t i = bLast ? nPieces - 1 - k : k;
        const int64_t nPieceFrom = m_vecPieces[2 * i];
        const int64_t nBlockEnd = m_vecPieces[2 * i + 1];
        const int64_t nHit
            = FindInBlock(nPieceFrom, std::min(nTo, nBlockEnd), nBlockEnd, bLast, pLength);
        if (nHit >= 0)
            return nHit;
    }
    return -1;
}

int64_t CLogSearch::FindInBlock(
    int64_t nFrom, int64_t nTo, int64_t nBlockEnd, bool bLast, int* pLength)
{
    const int64_t m = m_pattern.MaxLength();
    // Starts whose longest match fits the block are looked at in place; the last few, whose
    // match may run into the next block, in a copy of the bytes around the edge.
    const int64_t nInPlaceTo = std::clamp(nBlockEnd - m + 1, nFrom, nTo);
    const auto inPlace = [&]() -> int64_t {
        if (nInPlaceTo <= nFrom)
            return -1;
        int64_t nLength = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(m_store.Span(nFrom, &nLength));
        const int64_t nHit = m_pattern.Find(
            p, std::min(nBlockEnd, m_nEnd) - nFrom, nInPlaceTo - nFrom, bLast, pLength);
        return nHit >= 0 ? nFrom + nHit : -1;
    };
    const auto atEdge = [&]() -> int64_t {
        if (nTo <= nInPlaceTo)
            return -1;
        const int64_t nCopyTo = std::min(m_nEnd, nTo - 1 + m);
        m_strEdge.resize(size_t(nCopyTo - nInPlaceTo));
        const int64_t nCopied = m_store.Read(nInPlaceTo, m_strEdge.data(), nCopyTo - nInPlaceTo);
        const int64_t nHit
            = m_pattern.Find(reinterpret_cast<const unsigned char*>(m_strEdge.data()), nCopied,
                nTo - nInPlaceTo, bLast, pLength);
        return nHit >= 0 ? nInPlaceTo + nHit : -1;
    };
    int64_t nHit = bLast ? atEdge() : inPlace();
    if (nHit < 0)
        nHit = bLast ? inPlace() : atEdge();
    return nHit;
}
