#pragma once

#include "lineends.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;

// The log's bytes, kept as they are: blocks of at most g_nBlockBytes (by default) with the line
// breaks of each block indexed beside it, and the arrival time of every line that came in by
// Append. About one byte of memory per byte, plus four per line break and eight more for each
// break in a block where some line has a time.
//
// Which bytes break a line is the store's ELineEnds: CR LF only, or CR LF, lone CR and lone LF. A
// line is what lies between two breaks; line k (from 0) starts after the k-th break. A break
// belongs to the block that holds its first byte. A CR at the very end is a break as soon as it
// comes (AsReceived); an LF that follows it later joins it, and moves the next line's start by one.
//
// Bytes are read in place through Span, block by block; a search for bytes that may straddle two
// blocks reads the few bytes at the edge with Read.
class CLogStore {
public:
    // One huge page: filling a gigabyte costs 512 page faults instead of 262144.
    static constexpr int g_nBlockBytes = 2 * 1024 * 1024;
    static constexpr int64_t g_nNoTime = -1;

    // Blocks smaller than the default (a power of two) only make tests cross block edges often.
    explicit CLogStore(int nBlockBytes = g_nBlockBytes);
    ~CLogStore();
    CLogStore(const CLogStore&) = delete;
    CLogStore& operator=(const CLogStore&) = delete;

    // Milliseconds since the epoch; asked once for each line an append starts.
    void SetClock(std::function<int64_t()> fnClock);

    // Finds every break anew by the other rule (a gigabyte takes about a second); lines that are
    // there either way keep their times.
    void SetLineEnds(ELineEnds eEnds);
    ELineEnds LineEnds() const { return m_eEnds; }

    int64_t Size() const { return m_nSize; }
    // Changes whenever bytes already in the store change or go (an edit, Clear, a load), never
    // for bytes added at the end: what was found at a position stays true while it holds.
    uint64_t Revision() const { return m_nRevision; }
    int64_t LineCount() const { return m_nBreaks + 1; }
    int64_t LineStart(int64_t nLine) const;
    // The line holding nPos (0..Size()); a line start belongs to its own line.
    int64_t LineOf(int64_t nPos) const;
    // When the line's first appended byte arrived, or g_nNoTime (typed, pasted or loaded).
    int64_t LineTime(int64_t nLine) const;

    unsigned char At(int64_t nPos) const;
    // The bytes from nPos to the end of its block; null at the end.
    const char* Span(int64_t nPos, int64_t* pLength) const;
    // Copies up to nCount bytes from nPos and returns how many.
    int64_t Read(int64_t nPos, char* pOut, int64_t nCount) const;
    QByteArray Bytes(int64_t nFrom, int64_t nTo) const;

    // Bytes that arrived: the lines they start are stamped with the clock.
    void Append(const char* pBytes, int64_t nCount);
    void AppendByte(char cByte)
    {
        Block* pLast = m_vecBlocks.empty() ? nullptr : m_vecBlocks.back().get();
        // One byte into a block with room and no line to stamp or break to find: the common
        // case, kept short.
        if (pLast && pLast->m_nSize < m_nBlockBytes && !m_bEndsWithBreak && cByte != '\n'
            && cByte != '\r') {
            pLast->m_pData[pLast->m_nSize++] = cByte;
            ++m_nSize;
            return;
        }
        Append(&cByte, 1);
    }
    // The operator's edit: nFrom..nTo becomes the given bytes. Breaks it makes carry no time;
    // breaks it leaves alone keep theirs.
    void Replace(int64_t nFrom, int64_t nTo, const char* pBytes, int64_t nCount);
    void Clear();
    // Takes the other store's content, indexed by this store's rule; the other is left empty.
    void Swap(CLogStore& other);

    // Reads nCount bytes (the whole content) from the device. fnProgress gets the bytes read so
    // far and returns false to give up. False on a short read or when given up.
    bool ReadFrom(
        QIODevice& device, int64_t nCount, const std::function<bool(int64_t)>& fnProgress);
    bool WriteTo(QIODevice& device) const { return WriteTo(device, 0, m_nSize, nullptr); }
    // Writes the bytes from nFrom to nTo. fnProgress gets the bytes written so far every few
    // megabytes and returns false to give up; bytes may arrive meanwhile (they are not written).
    bool WriteTo(QIODevice& device, int64_t nFrom, int64_t nTo,
        const std::function<bool(int64_t)>& fnProgress) const;

private:
    struct Block {
        struct Free {
            void operator()(char* p) const;
        };
        std::unique_ptr<char[], Free> m_pData;
        int m_nSize = 0;
        std::vector<uint32_t> m_vecBreaks; // offsets of the breaks' first bytes, ascending
        // One per break: when the line after it began. Empty while none has a time (loaded).
        std::vector<int64_t> m_vecTimes;
        int64_t TimeAt(size_t nBreak) const
        {
            return m_vecTimes.empty() ? g_nNoTime : m_vecTimes[nBreak];
        }
    };

    std::unique_ptr<Block> NewBlock() const;
    // Freed blocks go back to the system, so a cleared log gives its memory back.
    static void ReturnMemory();
    // The block holding nPos, or the last block for nPos == Size().
    size_t BlockOf(int64_t nPos) const;
    // Blocks are never empty: the byte before a block is the last of the one before it.
    char ByteBefore(size_t nBlock) const;
    int ByteAfter(size_t nBlock) const;
    // Where the line after the break at nOffset of the block starts.
    int64_t BreakEnd(size_t nBlock, uint32_t nOffset) const;
    void AddBreak(size_t nBlock, uint32_t nOffset);
    void AppendBytes(const char* pBytes, int64_t nCount, bool bStamp);
    void IndexAppended(size_t nBlock, int nFrom, bool bStamp);
    void StampNewLine();
    // Finds the breaks of a block anew; fnTime gives the time of a break at a global position.
    void Reindex(size_t nBlock, const std::function<int64_t(int64_t)>& fnTime);
    void RecountFrom(size_t nBlock);
    void AfterChange();

    const int m_nBlockBytes;
    ELineEnds m_eEnds = ELineEnds::CrLf;
    std::vector<std::unique_ptr<Block>> m_vecBlocks;
    std::vector<int64_t> m_vecStart; // first position of each block
    std::vector<int64_t> m_vecLineBase; // breaks before each block
    int64_t m_nSize = 0;
    int64_t m_nBreaks = 0;
    bool m_bEndsWithBreak = true; // also true for an empty log: the next byte starts a line
    int64_t m_nFirstLineTime = g_nNoTime; // line 0 has no break before it
    uint64_t m_nRevision = 0;
    std::function<int64_t()> m_fnClock;
};
