#pragma once

#include "clioptions.h"
#include "downloadengine.h"
#include "downloadhost.h"
#include "eventloop.h"
#include "progressmeter.h"
#include "serialport.h"

#include <cstdio>
#include <string>

// Exit statuses of brem-cli; scripts depend on these numbers.
enum CliStatus : int {
    CLI_OK = 0,
    CLI_REFUSED = 1,
    CLI_USAGE = 2,
    CLI_PORT = 3,
    CLI_IMAGE = 4,
    CLI_SILENT = 5,
    CLI_LOG = 6,
    CLI_INTERRUPTED = 130,
};

// Runs one download the way the window does, on this process's main thread: the engine, the
// port and the event loop, with the log on one stream and progress and errors on another.
class CCliHost : public CDownloadHost, public CSerialPortOwner, public CErrorReporter {
public:
    // pErrIsTerminal: draw a progress bar instead of plain progress lines.
    CCliHost(const CCliOptions& options, FILE* pOut, FILE* pErr, bool bErrIsTerminal);
    ~CCliHost() override;
    CCliHost(const CCliHost&) = delete;
    CCliHost& operator=(const CCliHost&) = delete;

    // Checks the image, opens the port, downloads, closes the port; returns a CliStatus. The
    // last line written to pErr says what the status means.
    int Run();

    // CDownloadHost
    uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) override;
    void AppendLine(const std::string& strText) override;
    void AppendRaw(const unsigned char* pBytes, uint32_t nCount) override;
    void SetProgressRange(uint32_t nLower, uint32_t nUpper) override;
    void SetProgressPos(uint32_t nPos) override;
    uintptr_t SetTimer(uintptr_t nIDEvent, unsigned nElapseMs) override;
    void KillTimer(uintptr_t nIDEvent) override;
    void MessageBox(const std::string& strText) override;
    bool RunOpenFileDialog(const std::string& strFilter, std::string& strPath) override;
    void SetFilePathText(const std::string& strPath) override;
    int PortOpenFlag() const override { return m_bPortOpen ? 1 : 0; }
    void OnDownloadStep() override;
    void OnDownloadEnd(DownloadEnd eEnd) override;

    // CSerialPortOwner
    void PostToOwner(std::function<void()> fn) override;
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override;

    // CErrorReporter
    void ShowError(const std::string& strCaption, const std::string& strText) override;

private:
    bool CheckImage();
    void Finish(int nStatus, const std::string& strLastLine);
    void OnSilence();
    void OnSignal(int nSignal);
    // Writes to the log stream; a failure ends the run when the reader has gone (EPIPE) and
    // makes the exit status non-zero otherwise.
    void WriteLog(const std::string& str);
    void DrawProgress(bool bForce);
    void EndProgressLine();
    double NowSec() const;
    // --timeout from now: the device has that long for its next step.
    CEventLoop::Clock::time_point SilenceDeadline() const;

    const CCliOptions& m_options;
    FILE* m_pOut;
    FILE* m_pErr;
    bool m_bErrIsTerminal;

    CEventLoop m_loop;
    CSerialPort m_Port;
    CDownloadEngine m_engine;
    CProgressMeter m_meter;

    CEventLoop::Clock::time_point m_tpStart;
    CEventLoop::Clock::time_point m_tpLastDraw;
    uint64_t m_nImageBytes = 0;
    uint32_t m_nFrames = 0;
    uint32_t m_nFramesAcked = 0;
    bool m_bPortOpen = false;
    bool m_bHandshake = false;
    bool m_bPortError = false;
    bool m_bLineOpen = false;
    bool m_bBarShown = false;
    bool m_bFinished = false;
    bool m_bLogFailed = false;
    std::string m_strLogError;
    int m_nStatus = CLI_OK;
    std::string m_strLastLine;
    std::string m_strBoxText;
};
