#pragma once

#include "clioptions.h"
#include "portsession.h"
#include "progressmeter.h"

#include <cstdio>
#include <string>

// Runs one download the way the window does, on this process's main thread, with the log on
// one stream and progress and errors on another.
class CCliHost : public CSessionObserver {
public:
    // bErrIsTerminal: draw a progress bar instead of plain progress lines.
    CCliHost(const CCliOptions& options, const CPortRoots& roots, FILE* pOut, FILE* pErr,
        bool bErrIsTerminal);
    CCliHost(const CCliHost&) = delete;
    CCliHost& operator=(const CCliHost&) = delete;

    // Checks the image, opens the port, downloads, closes the port; returns a CliStatus. The
    // last line written to pErr says what the status means.
    int Run();

    // CSessionObserver
    void OnLogLine(const std::string& strText) override;
    void OnLogRaw(const unsigned char* pBytes, uint32_t nCount) override;
    void OnFrameCount(uint32_t nFrames) override;
    void OnFramesAcked(uint32_t nAcked) override;
    void OnPortError(const std::string& strCaption, const std::string& strText) override;
    void OnVerdict(int nStatus) override;

private:
    // The line that says why, when the image cannot be downloaded at all; "" when it can.
    std::string CheckImage();
    void OnSignal(int nSignal);
    // Writes to the log stream; a failure ends the run when the reader has gone (EPIPE) and
    // makes the exit status non-zero otherwise.
    void WriteLog(const std::string& str);
    void DrawProgress(bool bForce);
    void EndProgressLine();
    double NowSec() const;

    const CCliOptions& m_options;
    FILE* m_pOut;
    FILE* m_pErr;
    bool m_bErrIsTerminal;

    CPortSession m_session;
    CProgressMeter m_meter;

    CEventLoop::Clock::time_point m_tpStart;
    CEventLoop::Clock::time_point m_tpLastDraw;
    uint64_t m_nImageBytes = 0;
    bool m_bLineOpen = false;
    bool m_bBarShown = false;
    bool m_bLogFailed = false;
    std::string m_strLogError;
};
