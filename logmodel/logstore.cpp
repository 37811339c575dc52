#include "logstore.h"

#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#ifndef _WIN32
#include <sys/mman.h>
#endif

#ifdef __GLIBC__
#include <malloc.h>
#endif

CLogStore::CLogStore(int nBlockBytes)
    : m_nBlockBytes(nBlockBytes)
    , m_fnClock([] { return QDateTime::currentMSecsSinceEpoch(); })
{ }

CLogStore::~CLogStore() = default;

void CLogStore::ReturnMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void CLogStore::SetClock(std::function<int64_t()> fnClock)
{
    m_fnClock = std::move(fnClock);
}

void CLogStore::Block::Free::operator()(char* p) const
{
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

std::unique_ptr<CLogStore::Block> CLogStore::NewBlock() const
{
    void* p = nullptr;
#ifdef _WIN32
    // Windows has no posix_memalign; its aligned blocks need their own free.
    p = _aligned_malloc(static_cast<size_t>(m_nBlockBytes), static_cast<size_t>(m_nBlockBytes));
    if (!p)
        throw std::bad_alloc();
#else
    if (posix_memalign(&p, m_nBlockBytes, m_nBlockBytes) != 0)
        throw std::bad_alloc();
#endif
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
    if (nBlock == 0)
        return 0;
    const Block& block = *m_vecBlocks[nBlock - 1];
    return block.m_pData[block.m_nSize - 1];
}

int CLogStore::ByteAfter(size_t nBlock) const
{
    if (nBlock + 1 >= m_vecBlocks.size())
        return -1;
    return static_cast<unsigned char>(m_vecBlocks[nBlock + 1]->m_pData[0]);
}

int64_t CLogStore::BreakEnd(size_t nBlock, uint32_t nOffset) const
{
    const Block& block = *m_vecBlocks[nBlock];
    const int64_t nPos = m_vecStart[nBlock] + nOffset;
    if (block.m_pData[nOffset] != '\r')
        return nPos + 1;
    const int nNext = int(nOffset) + 1 < block.m_nSize
        ? static_cast<unsigned char>(block.m_pData[nOffset + 1])
        : ByteAfter(nBlock);
    return nPos + (nNext == '\n' ? 2 : 1);
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
    return BreakEnd(
        nBlock, m_vecBlocks[nBlock]->m_vecBreaks[size_t(nBreak - m_vecLineBase[nBlock])]);
}

int64_t CLogStore::LineOf(int64_t nPos) const
{
    nPos = std::min(nPos, m_nSize);
    if (nPos <= 0)
        return 0;
    // Breaks that begin before nPos, less one that begins at the last byte and ends past nPos.
    const int64_t nLast = nPos - 1;
    const size_t nBlock = BlockOf(nLast);
    const Block& block = *m_vecBlocks[nBlock];
    const uint32_t nOffset = uint32_t(nLast - m_vecStart[nBlock]);
    const auto it = std::upper_bound(block.m_vecBreaks.begin(), block.m_vecBreaks.end(), nOffset);
    int64_t nLine = m_vecLineBase[nBlock] + (it - block.m_vecBreaks.begin());
    if (it != block.m_vecBreaks.begin() && *(it - 1) == nOffset && BreakEnd(nBlock, nOffset) > nPos)
        --nLine;
    return nLine;
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

void CLogStore::AddBreak(size_t nBlock, uint32_t nOffset)
{
    Block& block = *m_vecBlocks[nBlock];
    block.m_vecBreaks.push_back(nOffset);
    if (!block.m_vecTimes.empty())
        block.m_vecTimes.push_back(g_nNoTime);
    ++m_nBreaks;
    for (size_t i = nBlock + 1; i < m_vecLineBase.size(); ++i)
        ++m_vecLineBase[i];
}

void CLogStore::IndexAppended(size_t nBlock, int nFrom, bool bStamp)
{
    Block& block = *m_vecBlocks[nBlock];
    const char* pData = block.m_pData.get();
    const char cBefore = nFrom > 0 ? pData[nFrom - 1] : ByteBefore(nBlock);
    int nAt = nFrom;
    if (pData[nAt] == '\n' && cBefore == '\r') {
        // The LF of a CR that came before: it makes the pair's break (CrLf), or joins the break
        // the CR made (AsReceived); either way no line starts here.
        if (m_eEnds == ELineEnds::CrLf) {
            if (nAt > 0)
                AddBreak(nBlock, uint32_t(nAt - 1));
            else
                AddBreak(nBlock - 1, uint32_t(m_vecBlocks[nBlock - 1]->m_nSize - 1));
        }
        m_bEndsWithBreak = true;
        ++nAt;
    }
    static thread_local std::vector<uint32_t> g_vecFound;
    g_vecFound.clear();
    FindLineBreaks(
        pData, nAt, block.m_nSize, nAt > 0 ? pData[nAt - 1] : cBefore, -1, m_eEnds, g_vecFound);
    for (uint32_t nBreak : g_vecFound) {
        // A line that has a byte (if only its break's) starts when that byte arrives.
        if (m_bEndsWithBreak && bStamp)
            StampNewLine();
        AddBreak(nBlock, nBreak);
        m_bEndsWithBreak = true;
        nAt = int(BreakEnd(nBlock, nBreak) - m_vecStart[nBlock]);
    }
    if (nAt < block.m_nSize) {
        if (m_bEndsWithBreak && bStamp)
            StampNewLine();
        m_bEndsWithBreak = false;
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

void CLogStore::Clear()
{
    ++m_nRevision;
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
    ++m_nRevision;
    std::swap(m_vecBlocks, other.m_vecBlocks);
    std::swap(m_vecStart, other.m_vecStart);
    std::swap(m_vecLineBase, other.m_vecLineBase);
    std::swap(m_nSize, other.m_nSize);
    std::swap(m_nBreaks, other.m_nBreaks);
    std::swap(m_bEndsWithBreak, other.m_bEndsWithBreak);
    std::swap(m_nFirstLineTime, other.m_nFirstLineTime);
    other.Clear();
    if (other.m_eEnds != m_eEnds) {
        // Indexed by the other's rule: found anew by this one's.
        const ELineEnds eEnds = m_eEnds;
        m_eEnds = other.m_eEnds;
        SetLineEnds(eEnds);
    }
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
        // A CR that ended the block before found its LF here: the pair's break is the other's.
        if (m_eEnds == ELineEnds::CrLf && nBlock > 0 && ByteBefore(nBlock) == '\r'
            && m_vecBlocks[nBlock]->m_pData[0] == '\n')
            AddBreak(nBlock - 1, uint32_t(m_vecBlocks[nBlock - 1]->m_nSize - 1));
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

bool CLogStore::WriteTo(QIODevice& device, int64_t nFrom, int64_t nTo,
    const std::function<bool(int64_t)>& fnProgress) const
{
    // In slices: the system copies small writes several times faster than whole blocks. Each
    // slice is found anew, so blocks added while fnProgress runs do not matter.
    constexpr int64_t nSlice = 64 * 1024;
    constexpr int64_t nProgressEvery = 16 << 20;
    const uint64_t nRevision = m_nRevision;
    nTo = std::min(nTo, m_nSize);
    for (int64_t nPos = std::max<int64_t>(nFrom, 0); nPos < nTo;) {
        int64_t nLength = 0;
        const char* p = Span(nPos, &nLength);
        nLength = std::min({ nLength, nSlice, nTo - nPos });
        if (!p || device.write(p, nLength) != nLength)
            return false;
        nPos += nLength;
        if (fnProgress && nPos % nProgressEvery < nLength
            && (!fnProgress(nPos - nFrom) || m_nRevision != nRevision))
            return false;
    }
    return true;
}
