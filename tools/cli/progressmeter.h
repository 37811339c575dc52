#pragma once

#include <cstdint>
#include <string>

// Turns frame counts into the progress text on stderr: a one-line bar for a terminal, or
// plain lines at every tenth of the image for a log file.
class CProgressMeter {
public:
    void Start(uint32_t nFrames, uint64_t nImageBytes, double dNowSec);
    // Frames acknowledged so far.
    void Update(uint32_t nFrame, double dNowSec);

    uint64_t BytesDone() const;
    // "[#####.....] 12/256 frames  49152/1048576 B  40.1 kB/s  0:25 left", width for the bar.
    std::string BarText(unsigned nBarWidth) const;
    // "progress: 12/256 frames, 49152/1048576 bytes, 40.1 kB/s"
    std::string PlainText() const;
    // True once per tenth reached since the last call (always false before Start).
    bool TakePlainStep();
    double RateBytesPerSec() const;

private:
    uint32_t m_nFrames = 0;
    uint64_t m_nImageBytes = 0;
    uint32_t m_nFrame = 0;
    double m_dStartSec = 0;
    double m_dNowSec = 0;
    unsigned m_nTenthsShown = 0;
    bool m_bStarted = false;
};
