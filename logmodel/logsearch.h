#pragma once

#include "logpattern.h"

#include <cstdint>
#include <string>
#include <vector>

class CLogStore;

// Finds a pattern in the log a slice at a time, so that the thread that owns the store (which is
// not thread-safe) goes on between slices: a gigabyte takes about a second in all, in slices of a
// few milliseconds. Matches may cross the store's block edges. Bytes that arrive during a search
// are not looked at; when bytes already there change (an edit, Clear, a load), the search ends
// as Changed.
class CLogSearch {
public:
    enum class EState : uint8_t { Idle, Running, Found, NotFound, Changed };

    explicit CLogSearch(const CLogStore& store);

    // Forward: the first match that starts at nFrom or after it, else (going round) the first
    // from the start of the log. Backward: the last that starts before nFrom, else the last from
    // the end.
    void Start(const CLogPattern& pattern, int64_t nFrom, bool bForward);
    // Looks through about nBytes more of the log and says where the search stands.
    EState Step(int64_t nBytes);
    void Cancel() { m_eState = EState::Idle; }

    EState State() const { return m_eState; }
    int64_t MatchFrom() const { return m_nMatchFrom; }
    int64_t MatchTo() const { return m_nMatchTo; }
    // The match was found after going round the end (or the start) of the log.
    bool Wrapped() const { return m_nSegment > 0; }
    // Share of the log looked through, 0 to 1.
    double Done() const;

private:
    // The first (bLast: the last) match that starts in [nFrom, nTo); -1 if none.
    int64_t FindIn(int64_t nFrom, int64_t nTo, bool bLast, int* pLength);
    // Matches starting in [nFrom, nTo) inside one block, ending before nBlockEnd.
    int64_t FindInBlock(int64_t nFrom, int64_t nTo, int64_t nBlockEnd, bool bLast, int* pLength);

    const CLogStore& m_store;
    CLogPattern m_pattern;
    EState m_eState = EState::Idle;
    bool m_bForward = true;
    uint64_t m_nRevision = 0;
    int64_t m_nEnd = 0; // the log's size when the search began
    // The starts to look at, in order: from the origin to one end, then the rest.
    struct SSegment {
        int64_t m_nFrom = 0;
        int64_t m_nTo = 0;
    };
    SSegment m_aSegments[2];
    int m_nSegment = 0;
    int64_t m_nCursor = 0; // next start to look at (forward) or the one after it (backward)
    int64_t m_nLooked = 0;
    int64_t m_nMatchFrom = -1;
    int64_t m_nMatchTo = -1;
    std::vector<int64_t> m_vecPieces; // block edges within a step's range
    std::string m_strEdge; // bytes around a block edge, copied
};
