#include "logstore.h"

#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <thread>

#include <sys/mman.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Freed blocks go back to the system, so a cleared log gives its memory back.
void ReturnMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

CLogStore::CLogStore(int nBlockBytes)
    : m_nBlockBytes(nBlockBytes)
    , m_fnClock([] { return QDateTime::currentMSecsSinceEpoch(); })
{ }

CLogStore::~CLogStore() = default;

void CLogStore::SetClock(std::function<int64_t()> fnClock)
{
    m_fnClock = std::move(fnClock);
}

void CLogStore::Block::Free::operator()(char* p) const
{
    std::free(p);
}

std::unique_ptr<CLogStore::Block> CLogStore::NewBlock() const
{
    void* p = nullptr;
    if (posix_memalign(&p, m_nBlockBytes, m_nBlockBytes) != 0)
        throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(p, m_nBlockBytes, MADV_HUGEPAGE);
#endif
    auto pBlock = std::make_unique<Block>();
    pBlock->m_pData.reset(static_cast<char*>(p));
    return pBlock;
}

size_t CLogStore::BlockOf(int64_t nPos) const
{
    if (m_vecBlocks.empty())
        return 0;
    if (nPos >= m_nSize)
        return m_vecBlocks.size() - 1;
    const auto it = std::upper_bound(m_vecStart.begin(), m_vecStart.end(), nPos);
    return size_t(it - m_vecStart.begin()) - 1;
}

char CLogStore::ByteBefore(size_t nBlock) const
{
    for (size_t i = nBlock; i-- > 0;)
        if (m_vecBlocks[i]->m_nSize > 0)
            return m_vecBlocks[i]->m_pData[m_vecBlocks[i]->m_nSize - 1];
    return 0;
}

int64_t CLogStore::LineStart(int64_t nLine) const
{
    if (nLine <= 0)
        return 0;
    if (nLine > m_nBreaks)
        return m_nSize;
    const int64_t nBreak = nLine - 1;
    const auto it = std::upper_bound(m_vecLineBase.begin(), m_vecLineBase.end(), nBreak);
    const size_t nBlock = size_t(it - m_vecLineBase.begin()) - 1;
    return m_vecStart[nBlock] + m_vecBlocks[nBlock]->m_vecBreaks[nBreak - m_vecLineBase[nBlock]]
        + 1;
}

int64_t CLogStore::LineOf(int64_t nPos) const
{
    if (nPos <= 0 || m_vecBlocks.empty())
        return 0;
    // Breaks whose LF lies before nPos.
    const size_t nBlock = BlockOf(std::min(nPos, m_nSize) - 1);
    const Block& block = *m_vecBlocks[nBlock];
    const int64_t nOffset = std::min(nPos, m_nSize) - 1 - m_vecStart[nBlock];
    const auto it
        = std::upper_bound(block.m_vecBreaks.begin(), block.m_vecBreaks.end(), uint32_t(nOffset));
    return m_vecLineBase[nBlock] + (it - block.m_vecBreaks.begin());
}

int64_t CLogStore::LineTime(int64_t nLine) const
{
    if (nLine < 0 || nLine > m_nBreaks)
        return g_nNoTime;
    if (nLine == 0)
        return m_nFirstLineTime;
    const int64_t nBreak = nLine - 1;
    const auto it = std::upper_bound(m_vecLineBase.begin(), m_vecLineBase.end(), nBreak);
    const size_t nBlock = size_t(it - m_vecLineBase.begin()) - 1;
    return m_vecBlocks[nBlock]->TimeAt(size_t(nBreak - m_vecLineBase[nBlock]));
}

unsigned char CLogStore::At(int64_t nPos) const
{
    if (nPos < 0 || nPos >= m_nSize)
        return 0;
    const size_t nBlock = BlockOf(nPos);
    return static_cast<unsigned char>(m_vecBlocks[nBlock]->m_pData[nPos - m_vecStart[nBlock]]);
}

const char* CLogStore::Span(int64_t nPos, int64_t* pLength) const
{
    if (nPos < 0 || nPos >= m_nSize) {
        *pLength = 0;
        return nullptr;
    }
    const size_t nBlock = BlockOf(nPos);
    const int64_t nOffset = nPos - m_vecStart[nBlock];
    *pLength = m_vecBlocks[nBlock]->m_nSize - nOffset;
    return m_vecBlocks[nBlock]->m_pData.get() + nOffset;
}

int64_t CLogStore::Read(int64_t nPos, char* pOut, int64_t nCount) const
{
    int64_t nDone = 0;
    while (nDone < nCount) {
        int64_t nLength = 0;
        const char* p = Span(nPos + nDone, &nLength);
        if (!p)
            break;
        const int64_t nTake = std::min(nLength, nCount - nDone);
        std::memcpy(pOut + nDone, p, size_t(nTake));
        nDone += nTake;
    }
    return nDone;
}

QByteArray CLogStore::Bytes(int64_t nFrom, int64_t nTo) const
{
    nFrom = std::clamp<int64_t>(nFrom, 0, m_nSize);
    nTo = std::clamp<int64_t>(nTo, nFrom, m_nSize);
    QByteArray ba(qsizetype(nTo - nFrom), Qt::Uninitialized);
    Read(nFrom, ba.data(), nTo - nFrom);
    return ba;
}

void CLogStore::StampNewLine()
{
    m_bEndsWithBreak = false;
    const int64_t nNow = m_fnClock();
    if (m_nBreaks == 0) {
        m_nFirstLineTime = nNow;
        return;
    }
    // The last break is in one of the last blocks.
    for (size_t i = m_vecBlocks.size(); i-- > 0;) {
        Block& block = *m_vecBlocks[i];
        if (!block.m_vecBreaks.empty()) {
            block.m_vecTimes.resize(block.m_vecBreaks.size(), g_nNoTime);
            block.m_vecTimes.back() = nNow;
            return;
        }
    }
}

void CLogStore::IndexAppended(size_t nBlock, int nFrom, bool bStamp)
{
    Block& block = *m_vecBlocks[nBlock];
    const char* pData = block.m_pData.get();
    for (int n = nFrom; n < block.m_nSize;) {
        if (m_bEndsWithBreak && bStamp)
            StampNewLine();
        m_bEndsWithBreak = false;
        const void* pLf = std::memchr(pData + n, '\n', size_t(block.m_nSize - n));
        if (!pLf)
            break;
        const int nLf = int(static_cast<const char*>(pLf) - pData);
        if ((nLf > 0 ? pData[nLf - 1] : ByteBefore(nBlock)) == '\r') {
            block.m_vecBreaks.push_back(uint32_t(nLf));
            if (!block.m_vecTimes.empty())
                block.m_vecTimes.push_back(g_nNoTime);
            ++m_nBreaks;
            m_bEndsWithBreak = true;
        }
        n = nLf + 1;
    }
}

void CLogStore::Append(const char* pBytes, int64_t nCount)
{
    AppendBytes(pBytes, nCount, true);
}

void CLogStore::AppendBytes(const char* pBytes, int64_t nCount, bool bStamp)
{
    while (nCount > 0) {
        if (m_vecBlocks.empty() || m_vecBlocks.back()->m_nSize == m_nBlockBytes) {
            if (!m_vecBlocks.empty()) {
                // A full block gets no more breaks: give back what its vectors kept in reserve.
                m_vecBlocks.back()->m_vecBreaks.shrink_to_fit();
                m_vecBlocks.back()->m_vecTimes.shrink_to_fit();
            }
            m_vecStart.push_back(m_nSize);
            m_vecLineBase.push_back(m_nBreaks);
            m_vecBlocks.push_back(NewBlock());
        }
        const size_t nBlock = m_vecBlocks.size() - 1;
        Block& block = *m_vecBlocks[nBlock];
        const int nFrom = block.m_nSize;
        const int nTake = int(std::min<int64_t>(nCount, m_nBlockBytes - nFrom));
        std::memcpy(block.m_pData.get() + nFrom, pBytes, size_t(nTake));
        block.m_nSize += nTake;
        m_nSize += nTake;
        IndexAppended(nBlock, nFrom, bStamp);
        pBytes += nTake;
        nCount -= nTake;
    }
}

void CLogStore::Reindex(size_t nBlock, const std::function<int64_t(int64_t)>& fnTime)
{
    // Gathered apart and copied once, so a block's vectors are allocated at their final size.
    static thread_local std::vector<uint32_t> g_vecBreaks;
    static thread_local std::vector<int64_t> g_vecTimes;
    g_vecBreaks.clear();
    g_vecTimes.clear();
    bool bTimed = false;
    Block& block = *m_vecBlocks[nBlock];
    const char* pData = block.m_pData.get();
    for (int n = 0; n < block.m_nSize; ++n) {
        const void* pLf = std::memchr(pData + n, '\n', size_t(block.m_nSize - n));
        if (!pLf)
            break;
        n = int(static_cast<const char*>(pLf) - pData);
        if ((n > 0 ? pData[n - 1] : ByteBefore(nBlock)) == '\r') {
            g_vecBreaks.push_back(uint32_t(n));
            if (fnTime) {
                g_vecTimes.push_back(fnTime(m_vecStart[nBlock] + n));
                bTimed = bTimed || g_vecTimes.back() != g_nNoTime;
            }
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
    m_bEndsWithBreak
        = m_nSize == 0 || (m_nSize >= 2 && At(m_nSize - 2) == '\r' && At(m_nSize - 1) == '\n');
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
    const int64_t nDelta = nCount - (nTo - nFrom);
    // The blocks the edit touches, widened by a neighbour while the result would be small, so
    // that deleting never leaves a trail of nearly empty blocks.
    size_t nFirst = BlockOf(nFrom);
    size_t nLast = m_vecBlocks.empty() ? 0 : BlockOf(std::max(nFrom, nTo - 1));
    if (m_vecBlocks.empty()) {
        m_vecBlocks.push_back(NewBlock());
        m_vecStart.push_back(0);
        m_vecLineBase.push_back(0);
    }
    auto spanBytes = [&] {
        return m_vecStart[nLast] + m_vecBlocks[nLast]->m_nSize - m_vecStart[nFirst] + nDelta;
    };
    if (nFirst > 0 && spanBytes() + m_vecBlocks[nFirst - 1]->m_nSize <= m_nBlockBytes / 2)
        --nFirst;
    if (nLast + 1 < m_vecBlocks.size()
        && spanBytes() + m_vecBlocks[nLast + 1]->m_nSize <= m_nBlockBytes / 2)
        ++nLast;

    // Times of the breaks in and right after the touched blocks, by their position after the edit.
    std::vector<std::pair<int64_t, int64_t>> vecTimes; // ascending, as the blocks are
    for (size_t i = nFirst; i <= nLast + 1 && i < m_vecBlocks.size(); ++i) {
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

    // Positions first, then the breaks of the new blocks and of the one after them (its first
    // byte may have a new neighbour), then the counts that follow from them.
    RecountFrom(nFirst);
    const auto fnTime = [&vecTimes](int64_t nPos) {
        const auto it = std::lower_bound(vecTimes.begin(), vecTimes.end(),
            std::make_pair(nPos, std::numeric_limits<int64_t>::min()));
        return it != vecTimes.end() && it->first == nPos ? it->second : g_nNoTime;
    };
    for (size_t i = nFirst; i < nFirst + vecNew.size() + 1 && i < m_vecBlocks.size(); ++i)
        Reindex(i, fnTime);
    RecountFrom(nFirst);
    AfterChange();
    if (nTo - nFrom > m_nBlockBytes)
        ReturnMemory();
}

void CLogStore::Clear()
{
    std::vector<std::unique_ptr<Block>> vecOld;
    vecOld.swap(m_vecBlocks);
    m_vecStart = {};
    m_vecLineBase = {};
    m_nSize = 0;
    m_nBreaks = 0;
    m_bEndsWithBreak = true;
    m_nFirstLineTime = g_nNoTime;
    if (vecOld.size() > 32) {
        // Giving a gigabyte back to the system takes a tenth of a second; the operator who
        // pressed Clear need not wait for it.
        std::thread([vecFree = std::move(vecOld)]() mutable {
            vecFree.clear();
            ReturnMemory();
        }).detach();
    } else if (!vecOld.empty()) {
        vecOld.clear();
        ReturnMemory();
    }
}

void CLogStore::Swap(CLogStore& other)
{
    std::swap(m_vecBlocks, other.m_vecBlocks);
    std::swap(m_vecStart, other.m_vecStart);
    std::swap(m_vecLineBase, other.m_vecLineBase);
    std::swap(m_nSize, other.m_nSize);
    std::swap(m_nBreaks, other.m_nBreaks);
    std::swap(m_bEndsWithBreak, other.m_bEndsWithBreak);
    std::swap(m_nFirstLineTime, other.m_nFirstLineTime);
    other.Clear();
}

bool CLogStore::ReadFrom(
    QIODevice& device, int64_t nCount, const std::function<bool(int64_t)>& fnProgress)
{
    Clear();
    while (m_nSize < nCount) {
        auto pBlock = NewBlock();
        const int nWant = int(std::min<int64_t>(m_nBlockBytes, nCount - m_nSize));
        int nGot = 0;
        while (nGot < nWant) {
            const qint64 nRead = device.read(pBlock->m_pData.get() + nGot, nWant - nGot);
            if (nRead <= 0)
                break;
            nGot += int(nRead);
        }
        if (nGot == 0)
            break;
        pBlock->m_nSize = nGot;
        m_vecStart.push_back(m_nSize);
        m_vecLineBase.push_back(m_nBreaks);
        m_vecBlocks.push_back(std::move(pBlock));
        const size_t nBlock = m_vecBlocks.size() - 1;
        Reindex(nBlock, nullptr);
        m_nSize += nGot;
        m_nBreaks += int64_t(m_vecBlocks[nBlock]->m_vecBreaks.size());
        if (nGot < nWant || (fnProgress && !fnProgress(m_nSize)))
            break;
    }
    const bool bComplete = m_nSize == nCount;
    AfterChange();
    if (!bComplete)
        Clear();
    return bComplete;
}

bool CLogStore::WriteTo(QIODevice& device) const
{
    // In slices: the system copies small writes several times faster than whole blocks.
    constexpr int nSlice = 64 * 1024;
    for (const auto& pBlock : m_vecBlocks) {
        for (int n = 0; n < pBlock->m_nSize; n += nSlice) {
            const int nLength = std::min(nSlice, pBlock->m_nSize - n);
            if (device.write(pBlock->m_pData.get() + n, nLength) != nLength)
                return false;
        }
    }
    return true;
}
