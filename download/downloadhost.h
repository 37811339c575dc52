#pragma once

#include <cstdint>
#include <string>

// How a download ended, for hosts that report it; the log line has been written by then.
enum class DownloadEnd {
    Ok, // the device acknowledged every frame, and the file still holds what it was sent
    Refused, // the device answered a frame with 0x15
    PortRefused, // the port did not take a poll or a frame
    PortFailed, // the port could not write what it took
    ImageChanged, // the file no longer holds the image being sent
    PortClosed,
    Abandoned, // DOWN started another download
};

// Everything the download engine needs from the program that runs it: the window, the
// command-line downloader and the tests each implement this. All calls come from the one
// thread that drives the engine.
class CDownloadHost {
public:
    virtual ~CDownloadHost() = default;

    // Hands bytes to the serial port for transmission and returns at once with the write's
    // number, which the port reports again once the bytes are written out; 0 when refused.
    virtual uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) = 0;
    // Appends the text and a line break (CR LF) to the log.
    virtual void AppendLine(const std::string& strText) = 0;
    // Appends received bytes to the log as terminal text.
    virtual void AppendRaw(const unsigned char* pBytes, uint32_t nCount) = 0;

    virtual void SetProgressRange(uint32_t nLower, uint32_t nUpper) = 0;
    virtual void SetProgressPos(uint32_t nPos) = 0;

    // Starts (or restarts) the periodic timer nIDEvent; ticks reach the engine's OnTimer.
    // Returns the timer handle, 0 when no timer could be started.
    virtual uintptr_t SetTimer(uintptr_t nIDEvent, unsigned nElapseMs) = 0;
    virtual void KillTimer(uintptr_t nIDEvent) = 0;

    // Modal message box with an OK button and the application's caption.
    virtual void MessageBox(const std::string& strText) = 0;
    // Modal open-file dialog; filter in the "Name(*.ext)|*.ext|…||" form. False when cancelled.
    virtual bool RunOpenFileDialog(const std::string& strFilter, std::string& strPath) = 0;
    // Shows the accepted image path in the path box.
    virtual void SetFilePathText(const std::string& strPath) = 0;

    // The port-open flag m_bPortOpen: 1 while the port is open, 0 otherwise.
    virtual int PortOpenFlag() const = 0;

    // The device moved the download on: it answered the poll, completed its identification or
    // acknowledged a frame.
    virtual void OnDownloadStep() { }
    // The device's identification block, all its bytes, just before its text is logged.
    virtual void OnIdentification(const unsigned char* /*pBytes*/, uint32_t /*nCount*/) { }
    virtual void OnDownloadEnd(DownloadEnd /*eEnd*/) { }
};
