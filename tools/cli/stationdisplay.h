#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// One device download as the technician sees it while it runs.
struct SLiveRow {
    std::string strLabel; // the port
    std::string strIdent; // the device's identification once read, harmless
    uint32_t nFrames = 0;
    uint32_t nAcked = 0;
    double dRate = 0; // image bytes per second since the handshake
    std::string strState; // "polling", "sending", "done in 1.2 s", "FAILED 5: ..."
};

// A block of lines at the bottom of a terminal, redrawn in place: the cursor goes back up over
// what was drawn last time, each line is written over and the rest cleared.
class CLiveBlock {
public:
    // The bytes that put these lines in place of the block, each cut to nColumns - 1
    // characters so that none wraps and moves the lines below.
    std::string Redraw(const std::vector<std::string>& lines, unsigned nColumns);
    // The bytes that clear the block and leave the cursor where it began.
    std::string Erase();

private:
    size_t m_nDrawn = 0;
};

// What a flashing station shows: on a terminal, one live line per port and a tally, redrawn in
// place on the error stream; otherwise a plain line per event. Results go to the output
// stream, above the live lines.
class CStationDisplay {
public:
    CStationDisplay(FILE* pOut, FILE* pErr, bool bLive);

    bool Live() const { return m_bLive; }
    void SetRow(unsigned nId, const SLiveRow& row);
    void RemoveRow(unsigned nId);
    void SetTally(const std::string& strTally);
    // Live: draws what changed since the last call. Call a few times a second.
    void Draw();
    // Live: takes the lines away for good; what follows is plain.
    void Clear();
    // Not live: a line on the error stream.
    void Event(const std::string& strLine);
    // A line of the results on the output stream; false when it could not be written (errno
    // tells why).
    bool Result(const std::string& strLine);

    // The text of a live line; columns are as wide as the widest label and identification.
    static std::string RowText(const SLiveRow& row, size_t nLabelWidth, size_t nIdentWidth);

private:
    std::vector<std::string> Lines(unsigned nRows) const;

    FILE* m_pOut;
    FILE* m_pErr;
    bool m_bLive;
    bool m_bDirty = false;
    std::map<unsigned, SLiveRow> m_rows;
    std::string m_strTally;
    CLiveBlock m_block;
};
