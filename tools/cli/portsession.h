#pragma once

#include "clistatus.h"
#include "downloadengine.h"
#include "downloadhost.h"
#include "eventloop.h"
#include "linepulse.h"
#include "portnames.h"
#include "serialport.h"

#include <cstdint>
#include <string>
#include <vector>

// What a download on one port tells whoever shows it. Every call comes on the session's thread.
class CSessionObserver {
public:
    virtual ~CSessionObserver() = default;

    // A line of the window's log, as the engine wrote it: device text is not filtered.
    virtual void OnLogLine(const std::string& /*strText*/) { }
    // Device bytes that the window's log shows as terminal text.
    virtual void OnLogRaw(const unsigned char* /*pBytes*/, uint32_t /*nCount*/) { }
    // The download starts with this many frames.
    virtual void OnFrameCount(uint32_t /*nFrames*/) { }
    // Frames acknowledged so far (0 when the download starts).
    virtual void OnFramesAcked(uint32_t /*nAcked*/) { }
    // The device moved on: it answered the poll (STATE_IDENT), completed its identification
    // (STATE_SENDING) or acknowledged a frame (STATE_SENDING).
    virtual void OnStep(DownloadState /*eState*/) { }
    // The 48 bytes of the device's identification.
    virtual void OnIdentification(const unsigned char* /*pBytes*/, uint32_t /*nCount*/) { }
    // A system call on the port failed: the error box's caption and text, on one line.
    virtual void OnPortError(const std::string& /*strCaption*/, const std::string& /*strText*/) { }
    // The verdict is in; the port is still open.
    virtual void OnVerdict(int /*nStatus*/) { }
};

// One download on one port, run as the window runs it: the engine and the serial port, driven
// by an event loop of the session's own on the thread that calls Run(). Its verdict is a
// CliStatus with a line that says what it means.
class CPortSession : CDownloadHost, CSerialPortOwner, CErrorReporter {
public:
    struct SSettings {
        std::string strPort; // as the operator named it: COMn, a device name or a path
        unsigned nPortNr = 0; // the n of COMn, for the port's boxes; 0 for other names
        unsigned nBaud = 115200;
        char cParity = 'N';
        unsigned nDataBits = 8;
        unsigned nStopBits = 1;
        SLineControl lineControl;
        std::vector<SPulseStep> resetPulse; // played before the download starts
        double dTimeoutSec = 60;
        std::string strImage;
        CPortRoots roots;
        CImageSource* pImage = nullptr; // where the engine reads the image; null: the file
    };

    CPortSession(const SSettings& settings, CSessionObserver& observer);
    ~CPortSession() override;
    CPortSession(const CPortSession&) = delete;
    CPortSession& operator=(const CPortSession&) = delete;

    // Signals and other threads reach the session through its loop.
    CEventLoop& Loop() { return m_loop; }
    // Opens the port, downloads, then closes the port and restores its settings on every path.
    // Returns the status.
    int Run();
    // Loop thread: ends the run with this verdict unless it has one already.
    void Finish(int nStatus, const std::string& strLine);
    // Any thread: ends the run as ended by signal nSignal (the device does not hold the image).
    void Interrupt(int nSignal);

    int Status() const { return m_nStatus; }
    const std::string& Verdict() const { return m_strVerdict; }
    // The log's closing line when the engine ended the download ("DownLoad OK", "CheckSum
    // Error", "DownLoad Failed: ..."); "" when the run ended otherwise.
    const std::string& EndLine() const { return m_strEndLine; }
    // Whether the port could be opened.
    bool PortOpened() const { return m_bPortOpened; }
    uint32_t Frames() const { return m_nFrames; }
    uint32_t FramesAcked() const { return m_nFramesAcked; }

private:
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
    void OnIdentification(const unsigned char* pBytes, uint32_t nCount) override;
    void OnDownloadEnd(DownloadEnd eEnd) override;

    // CSerialPortOwner
    void PostToOwner(std::function<void()> fn) override;
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override;

    // CErrorReporter
    void ShowError(const std::string& strCaption, const std::string& strText) override;

    void OnSilence();
    double Seconds() const;
    // --timeout from now: the device has that long for its next step.
    CEventLoop::Clock::time_point SilenceDeadline() const;

    const SSettings m_settings;
    CSessionObserver& m_observer;
    CEventLoop m_loop;
    CSerialPort m_Port;
    CDownloadEngine m_engine;

    CEventLoop::Clock::time_point m_tpStart;
    uint32_t m_nFrames = 0;
    uint32_t m_nFramesAcked = 0;
    bool m_bPortOpen = false;
    bool m_bPortOpened = false;
    bool m_bHandshake = false;
    bool m_bPortError = false;
    bool m_bFinished = false;
    int m_nStatus = CLI_OK;
    std::string m_strVerdict;
    std::string m_strBoxText;
    std::string m_strLastLine;
    std::string m_strEndLine;
};
