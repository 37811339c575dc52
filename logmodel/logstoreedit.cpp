#include "logstore.h"

#include <algorithm>
#include <cstring>
#include <limits>

// The store's edits: the operator's Replace, and the index found anew by the other rule.

void CLogStore::SetLineEnds(ELineEnds eEnds)
{
    if (eEnds == m_eEnds)
        return;
    m_eEnds = eEnds;
    // Blocks keep their bytes, and a break its block: each block's old times are all it needs.
    std::vector<uint32_t> vecOld;
    std::vector<int64_t> vecOldTimes;
    for (size_t i = 0; i < m_vecBlocks.size(); ++i) {
        vecOld.swap(m_vecBlocks[i]->m_vecBreaks);
        vecOldTimes.swap(m_vecBlocks[i]->m_vecTimes);
        const int64_t nStart = m_vecStart[i];
        Reindex(i, [&](int64_t nPos) {
            if (vecOldTimes.empty())
                return g_nNoTime;
            const auto it = std::lower_bound(vecOld.begin(), vecOld.end(), uint32_t(nPos - nStart));
            return it != vecOld.end() && *it == nPos - nStart
                ? vecOldTimes[size_t(it - vecOld.begin())]
                : g_nNoTime;
        });
    }
    RecountFrom(0);
    AfterChange();
}

void CLogStore::Reindex(size_t nBlock, const std::function<int64_t(int64_t)>& fnTime)
{
    // Gathered apart and copied once, so a block's vectors are allocated at their final size.
    static thread_local std::vector<uint32_t> g_vecBreaks;
    static thread_local std::vector<int64_t> g_vecTimes;
    g_vecBreaks.clear();
    g_vecTimes.clear();
    Block& block = *m_vecBlocks[nBlock];
    FindLineBreaks(block.m_pData.get(), 0, block.m_nSize, ByteBefore(nBlock), ByteAfter(nBlock),
        m_eEnds, g_vecBreaks);
    bool bTimed = false;
    if (fnTime) {
        for (uint32_t nBreak : g_vecBreaks) {
            g_vecTimes.push_back(fnTime(m_vecStart[nBlock] + nBreak));
            bTimed = bTimed || g_vecTimes.back() != g_nNoTime;
        }
    }
    block.m_vecBreaks.assign(g_vecBreaks.begin(), g_vecBreaks.end());
    if (bTimed)
        block.m_vecTimes.assign(g_vecTimes.begin(), g_vecTimes.end());
    else
        std::vector<int64_t>().swap(block.m_vecTimes);
}

void CLogStore::RecountFrom(size_t nBlock)
{
    m_vecStart.resize(m_vecBlocks.size());
    m_vecLineBase.resize(m_vecBlocks.size());
    int64_t nStart = nBlock > 0 ? m_vecStart[nBlock - 1] + m_vecBlocks[nBlock - 1]->m_nSize : 0;
    int64_t nBase = nBlock > 0
        ? m_vecLineBase[nBlock - 1] + int64_t(m_vecBlocks[nBlock - 1]->m_vecBreaks.size())
        : 0;
    for (size_t i = nBlock; i < m_vecBlocks.size(); ++i) {
        m_vecStart[i] = nStart;
        m_vecLineBase[i] = nBase;
        nStart += m_vecBlocks[i]->m_nSize;
        nBase += int64_t(m_vecBlocks[i]->m_vecBreaks.size());
    }
    m_nSize = nStart;
    m_nBreaks = nBase;
}

void CLogStore::AfterChange()
{
    const unsigned char nLast = At(m_nSize - 1);
    m_bEndsWithBreak = m_nSize == 0
        || (m_eEnds == ELineEnds::AsReceived ? nLast == '\r' || nLast == '\n'
                                             : nLast == '\n' && At(m_nSize - 2) == '\r');
    if (m_nSize == 0)
        m_nFirstLineTime = g_nNoTime;
}

void CLogStore::Replace(int64_t nFrom, int64_t nTo, const char* pBytes, int64_t nCount)
{
    nFrom = std::clamp<int64_t>(nFrom, 0, m_nSize);
    nTo = std::clamp<int64_t>(nTo, nFrom, m_nSize);
    if (nFrom == nTo && nCount == 0)
        return;
    if (nFrom == m_nSize) {
        // Typed at the end: nothing to move.
        AppendBytes(pBytes, nCount, false);
        return;
    }
    ++m_nRevision;
    const int64_t nDelta = nCount - (nTo - nFrom);
    // The blocks the edit touches, widened by a neighbour while the result would be small, so
    // that deleting never leaves a trail of nearly empty blocks.
    size_t nFirst = BlockOf(nFrom);
    size_t nLast = BlockOf(std::max(nFrom, nTo - 1));
    auto spanBytes = [&] {
        return m_vecStart[nLast] + m_vecBlocks[nLast]->m_nSize - m_vecStart[nFirst] + nDelta;
    };
    if (nFirst > 0 && spanBytes() + m_vecBlocks[nFirst - 1]->m_nSize <= m_nBlockBytes / 2)
        --nFirst;
    if (nLast + 1 < m_vecBlocks.size()
        && spanBytes() + m_vecBlocks[nLast + 1]->m_nSize <= m_nBlockBytes / 2)
        ++nLast;

    // The block before the touched ones may end in a CR whose pairing the edit changes, and the
    // one after may start with an LF that does: their breaks are found anew too.
    const size_t nBefore = nFirst > 0 ? nFirst - 1 : 0;
    // Times of the breaks in and around the touched blocks, by their position after the edit.
    std::vector<std::pair<int64_t, int64_t>> vecTimes; // ascending, as the blocks are
    for (size_t i = nBefore; i <= nLast + 1 && i < m_vecBlocks.size(); ++i) {
        const Block& block = *m_vecBlocks[i];
        for (size_t k = 0; k < block.m_vecBreaks.size(); ++k) {
            const int64_t nPos = m_vecStart[i] + block.m_vecBreaks[k];
            if (nPos < nFrom)
                vecTimes.emplace_back(nPos, block.TimeAt(k));
            else if (nPos >= nTo)
                vecTimes.emplace_back(nPos + nDelta, block.TimeAt(k));
        }
    }

    // The new bytes of the touched blocks, cut into blocks of equal size.
    const int64_t nSpanStart = m_vecStart[nFirst];
    const int64_t nSpanEnd = m_vecStart[nLast] + m_vecBlocks[nLast]->m_nSize;
    QByteArray baNew;
    baNew.reserve(qsizetype(nSpanEnd - nSpanStart + nDelta));
    baNew += Bytes(nSpanStart, nFrom);
    baNew.append(pBytes, qsizetype(nCount));
    baNew += Bytes(nTo, nSpanEnd);
    const qsizetype nPieces = (baNew.size() + m_nBlockBytes - 1) / m_nBlockBytes;
    std::vector<std::unique_ptr<Block>> vecNew;
    for (qsizetype k = 0; k < nPieces; ++k) {
        const qsizetype nBegin = baNew.size() * k / nPieces;
        const qsizetype nEnd = baNew.size() * (k + 1) / nPieces;
        auto pBlock = NewBlock();
        std::memcpy(pBlock->m_pData.get(), baNew.constData() + nBegin, size_t(nEnd - nBegin));
        pBlock->m_nSize = int(nEnd - nBegin);
        vecNew.push_back(std::move(pBlock));
    }
    m_vecBlocks.erase(m_vecBlocks.begin() + std::ptrdiff_t(nFirst),
        m_vecBlocks.begin() + std::ptrdiff_t(nLast) + 1);
    m_vecBlocks.insert(m_vecBlocks.begin() + std::ptrdiff_t(nFirst),
        std::make_move_iterator(vecNew.begin()), std::make_move_iterator(vecNew.end()));

    // Positions first, then the breaks, then the counts that follow from them.
    RecountFrom(nFirst);
    const auto fnTime = [&vecTimes](int64_t nPos) {
        const auto it = std::lower_bound(vecTimes.begin(), vecTimes.end(),
            std::make_pair(nPos, std::numeric_limits<int64_t>::min()));
        return it != vecTimes.end() && it->first == nPos ? it->second : g_nNoTime;
    };
    for (size_t i = nBefore; i < nFirst + vecNew.size() + 1 && i < m_vecBlocks.size(); ++i)
        Reindex(i, fnTime);
    RecountFrom(nBefore);
    AfterChange();
    if (nTo - nFrom > m_nBlockBytes)
        ReturnMemory();
}
