#pragma once

#include "simdevice.h"
#include "simoptions.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

// The I/O around a CSimDevice: the line (a new pseudo-terminal or a given tty), the poll loop,
// pacing at a baud rate, delays, the image file and the summary.
class CSimRunner {
public:
    explicit CSimRunner(const CSimOptions& options);
    ~CSimRunner();
    CSimRunner(const CSimRunner&) = delete;
    CSimRunner& operator=(const CSimRunner&) = delete;

    // Opens the line, the link and the image file; prints the device path as the first line of
    // stdout. False (with a message on stderr) when any of them fails.
    bool Open();
    // Plays the device until a signal, --once, a hang-up or --exit-after; prints the summary.
    void Run();
    // The host's line was not set as --expect-* asked at some point.
    bool LineWasWrong() const { return m_bLineWrong; }

private:
    struct Chunk {
        std::vector<uint8_t> m_data;
        size_t m_nPos = 0;
        int64_t m_tRead = 0;
    };
    struct OutByte {
        uint8_t m_by;
        CSimDevice::Answer m_eKind; // of the answer this byte begins; None for the rest
        int64_t m_tRelease;
    };

    bool CatchSignals();
    bool OpenLine();
    int64_t DueOfByte(size_t nAhead) const;
    void FeedDue(int64_t tNow);
    void WriteDue(int64_t tNow);
    void WriteFlood(int64_t tNow);
    void Trickle(int64_t tNow);
    void Written(const OutByte& out, int64_t tNow);
    void ReadLine(int64_t tNow);
    // Whether the line is set as expected now; says what is wrong the first time it is not.
    bool LineAsExpected();
    int64_t NextWake(int64_t tNow) const;
    void Drain();
    bool SignalCame();
    void CloseLine();
    void PrintSummary(const char* pszExit);

    CSimOptions m_options;
    CSimDevice m_device;
    int m_hMaster = -1; // the end we read and write
    int m_hSlave = -1; // held so the host can close and reopen without a hang-up
    int m_hOut = -1;
    std::FILE* m_pSaveRead = nullptr;
    std::FILE* m_pSaveWritten = nullptr;
    int m_hSignals = -1; // SIGHUP, SIGINT, SIGQUIT and SIGTERM, blocked and read here
    bool m_bSignalled = false;
    std::string m_strPath;
    bool m_bLinked = false;
    int64_t m_nByteNs = 0; // one byte time when pacing, else 0

    std::deque<Chunk> m_in;
    size_t m_nInBytes = 0;
    int64_t m_tInPrev = 0; // when the previous byte was taken in (pacing)
    int64_t m_tLastActivity = 0; // last byte read, taken in or written: quiet counts from here
    std::deque<OutByte> m_out;
    int64_t m_tOutPrev = 0; // when the previous byte finished leaving (pacing)
    bool m_bWantWrite = false; // the line is full: wait until it can take more
    bool m_bLineDown = false;
    std::vector<uint8_t> m_answer;
    bool m_bLineWrong = false;

    long long m_nFloodLeft = 0;
    long long m_nFloodSent = 0;
    bool m_bFloodArmed = false;
    int64_t m_tFloodFirst = 0;
    int64_t m_tFloodArmed = 0; // paced flood bytes count their byte times from here
    int64_t m_tFloodLast = 0;
    int64_t m_tNextTrickle = INT64_MAX; // armed by the first byte read

    bool m_bAckPending = false; // an acknowledgement went out and more frames are due
    int64_t m_tAck = 0;
    int64_t m_tPollAnswer = 0;
    int64_t m_nDownloadNs = -1;
    std::vector<int64_t> m_turnarounds;
};
