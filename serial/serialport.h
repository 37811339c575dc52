#pragma once

#include "commevent.h"
#include "commport.h"
#include "dcb.h"
#include "portmailbox.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Notifications the monitor thread sends to the owner (message number, wParam, lParam).
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_COMM_BREAK_DETECTED = WM_USER + 1;
constexpr unsigned WM_COMM_CTS_DETECTED = WM_USER + 2;
constexpr unsigned WM_COMM_ERR_DETECTED = WM_USER + 4;
constexpr unsigned WM_COMM_RING_DETECTED = WM_USER + 5;
constexpr unsigned WM_COMM_RXCHAR = WM_USER + 7;
constexpr unsigned WM_COMM_RXFLAG_DETECTED = WM_USER + 8;
// After each write: wParam is the number WriteToPort gave the last call whose bytes it carried.
// Every byte that arrived before the write had handed all its bytes to the driver is delivered
// before WM_COMM_TXEMPTY; a byte delivered after it arrived later. WM_COMM_TXFAILED instead when
// the write failed (its box came first) or was dropped because the device has gone.
constexpr unsigned WM_COMM_TXEMPTY = WM_USER + 9;
constexpr unsigned WM_COMM_TXFAILED = WM_USER + 10;

// The window (or the command-line host, or a test) that receives what the port reports.
class CSerialPortOwner {
public:
    virtual ~CSerialPortOwner() = default;

    // Any thread. Queues fn to run on the owner's thread, in posting order; never blocks. The
    // port posts only to wake an idle owner: the closure then takes notifications one after
    // another, without sleeping while more are on their way, and returns within a few
    // milliseconds so that the owner's loop stays live. Error boxes travel the same way; the
    // monitor thread waits until one has been dismissed.
    virtual void PostToOwner(std::function<void()> fn) = 0;

    // Owner's thread. One notification: WM_COMM_RXCHAR with the byte as wParam, or one of the
    // event notifications with wParam 0; lParam is the port number. Each is handled before the
    // next is handed over.
    virtual void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) = 0;
};

// Shows a failed system call to the operator ("Application Error" box, stderr, or a test's list).
class CErrorReporter {
public:
    virtual ~CErrorReporter() = default;
    // Owner's thread; returns when the operator has dismissed the message.
    virtual void ShowError(const std::string& strCaption, const std::string& strText) = 0;
};

// Flow control and the output lines at open, beside the rate and framing that InitPort takes.
struct SLineControl {
    enum Flow { FLOW_NONE, FLOW_RTSCTS, FLOW_XONXOFF };
    Flow eFlow = FLOW_NONE;
    int nDtr = -1; // 0 off, 1 on, -1 as the port has it
    bool bRts = true; // held on; under RTS/CTS the driver drives it
};

// The one gateway to a serial port: opens and configures it, runs the monitor thread that hands
// every received byte to the owner, one at a time and in order, and sends what WriteToPort was
// given. Every call but ProcessErrorMessage belongs to the owner's thread.
//
// The monitor thread reads ahead what the driver holds. A write goes out once every byte queued
// (read ahead or in the driver) when the thread first saw the request has been handed over, even
// while more keeps coming; whatever has not been handed over by then is discarded with the
// driver's input, as the purge before every write always did.
class CSerialPort {
public:
    CSerialPort();
    // Ends the monitor thread and closes a port still open.
    virtual ~CSerialPort();

    // Opens "COM<portnr>" (see ResolvePortName) at "baud=.. parity=.. data=.. stop=..", all
    // time-outs 1000 ms, with the line control set (RTS on, no flow control unless changed). Stops
    // a running monitor thread and closes a port still held first. False only when the port cannot
    // be opened (absent, held by another program, not a serial device): no box then. A
    // configuration step that fails shows one box and skips the later steps; the port stays open
    // and the result is true. Every pass that serves a port event notifies each other bit of the
    // mask; on POSIX only EV_RXCHAR can be waited for.
    bool InitPort(CSerialPortOwner* pPortOwner, unsigned portnr, unsigned baud, char parity,
        unsigned databits, unsigned stopbits, uint32_t dwCommEvents, unsigned nBufferSize);
    // Same on a device path or "COM<n>" name; portnr only labels notifications and boxes.
    bool InitPort(CSerialPortOwner* pPortOwner, const std::string& strDevice, unsigned portnr,
        unsigned baud, char parity, unsigned databits, unsigned stopbits, uint32_t dwCommEvents,
        unsigned nBufferSize);
    // Flow control and DTR/RTS levels for the next InitPort (and ChangeLineSettings).
    void SetLineControl(const SLineControl& control) { m_lineControl = control; }
    const SLineControl& LineControl() const { return m_lineControl; }
    // False after an InitPort whose configuration failed (its box was shown): the port does not
    // run with the settings asked for.
    bool LineSettingsApplied() const { return m_bLineApplied; }
    // Sets rate, framing and flow control on the open port at once; DTR and RTS stay as they
    // are. False, with the reason as the last system error and the settings as they were, when
    // the port refuses them.
    bool ChangeLineSettings(unsigned baud, char parity, unsigned databits, unsigned stopbits);
    // SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK on the open port. False, with the
    // reason as the last system error, when it fails or no port is open.
    bool EscapeCommFunction(uint32_t dwFunc);
    // The input lines that are on (MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON).
    bool GetCommModemStatus(uint32_t& dwStatus) const;
    // The output lines as this object last set them.
    bool DtrOn() const { return m_bDtr; }
    bool RtsOn() const { return m_bRts; }
    bool BreakOn() const { return m_bBreak; }

    // Starts the monitor thread; false when one is already running or none could be made.
    bool StartMonitoring();
    // Copies the bytes for the monitor thread, behind any not yet taken, and returns at once with
    // the call's number (1, 2, ... from each InitPort), which WM_COMM_TXEMPTY or WM_COMM_TXFAILED
    // reports later. 0 (nothing touched) when no port is open or the bytes do not fit the buffer.
    uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount);
    // Ends the monitor thread, even one waiting for the owner, and closes the port. Nothing
    // reaches the owner once it has returned.
    void ClosePort();
    // Reports the failed call whose reason is the last system error: "WARNING:  <text> Failed
    // with the following error: \n<system text>\nPort: <n>\n" under "Application Error". On the
    // monitor thread it is shown on the owner's thread while the monitor waits.
    void ProcessErrorMessage(const char* szErrorText);
    // Where error boxes go; null (the default) prints them to stderr.
    void SetErrorReporter(CErrorReporter* pReporter);

    // How StartMonitoring makes its thread. A test stands in one that fails as the system may
    // (no thread to spare: std::system_error); null restores the real one.
    using FThreadStarter = std::thread (*)(void (*pfnMain)(CSerialPort*), CSerialPort* port);
    static void SetThreadStarter(FThreadStarter pfnStart);

    // How long the monitor thread lets the driver gather bytes before it reads again, while
    // bytes keep arriving in small passes and nothing has been written since (bench tunable).
    static void SetStreamGatherMicros(unsigned nMicros);

    // State, for hosts and tests.
    bool ThreadAlive() const { return m_bThreadAlive.load(); }
    int ThreadExitCode() const { return m_nExitCode.load(); }
    bool PortOpen() const;
    int PortNr() const { return m_nPortNr; }
    uint32_t WriteSize() const;
    uint32_t WriteBufferSize() const { return m_nWriteBufferSize; }
    bool HasWriteBuffer() const;
    uint32_t CommEvents() const { return m_dwCommEvents; }
    // The system error of the last InitPort that could not open its port.
    int OpenError() const { return m_nOpenError; }
    // Any thread. True once the monitor thread has found the device gone (and stopped watching
    // it), until the next InitPort.
    bool DeviceGone() const { return m_bDeviceGone.load(); }
    // Write requests the monitor thread has taken up (counted the bytes due before them, or
    // started on them).
    uint64_t WritesSeen() const { return m_nWritesCounted.load(); }
    const DCB& LineSettings() const { return m_dcb; }

private:
    // The port-event signal is the port's own (CCommPort::EventHandle).
    struct OVERLAPPED {
        uint32_t Offset = 0;
        uint32_t OffsetHigh = 0;
        WaitHandle hEvent = g_hNoWait;
    };

    static void CommThread(CSerialPort* port);
    static void ReceiveChar(CSerialPort* port);
    static void WriteChar(CSerialPort* port);
    // Hands over received bytes, at most nMax of them and none past the point where a waiting
    // write is due. False when the port is stopping.
    static bool DeliverQueued(CSerialPort* port, uint64_t nMax);

    void StopMonitorThread();
    static void ApplyLineControl(const SLineControl& control, DCB& dcb);
    // The line settings in m_dcb are the port's now.
    void NoteLinesSet();
    // Monitor thread. Reads what the driver holds into the read-ahead buffer; false when
    // nothing came. bQuiet: a failure is left for the next plain read to report.
    bool ReadAhead(bool bQuiet = false);
    void DropReadAhead();
    // Monitor thread. Waits until everything handed over has been handled, reading ahead and
    // (when bNoteWrites) noting a write request meanwhile. False when the port is stopping.
    bool WaitSlotFree(bool bNoteWrites);
    // Monitor thread. Notes, once per write request, how many more bytes go before it.
    void NoteWriteQuota();
    bool WriteDue() const { return m_bQuotaNoted && m_nQuota == 0; }
    // Monitor thread. Notifications and a run of bytes gather in m_item, which Flush hands over
    // once the slot is free; it is flushed before the thread sleeps, writes or shows a box.
    // False when the port is stopping.
    bool AddNote(unsigned nMessage, uintptr_t wParam);
    bool Flush();
    void ShowBox(const std::string& strText);

    uint32_t m_nWriteSize; // guarded by m_mxWriteBuffer
    std::thread m_Thread;
    std::mutex m_csCommunicationSync;
    std::atomic<bool> m_bThreadAlive;
    std::unique_ptr<CCommEvent> m_hShutdownEvent;
    std::unique_ptr<CCommPort> m_hComm;
    std::unique_ptr<CCommEvent> m_hWriteEvent;
    WaitHandle m_hEventArray[3];
    OVERLAPPED m_ov;
    COMMTIMEOUTS m_CommTimeouts;
    DCB m_dcb;
    CSerialPortOwner* m_pOwner;
    int m_nPortNr;
    std::unique_ptr<unsigned char[]> m_szWriteBuffer; // guarded by m_mxWriteBuffer
    uint32_t m_dwCommEvents;
    uint32_t m_nWriteBufferSize;

    // WriteToPort must not wait behind a write or a box holding the port lock.
    mutable std::mutex m_mxWriteBuffer;
    std::unique_ptr<unsigned char[]> m_szSendBuffer; // monitor thread's copy of what it sends
    uint64_t
        m_nWritesAccepted; // WriteToPort calls taken since InitPort; guarded by m_mxWriteBuffer
    bool m_bAcceptWrites;

    std::atomic<CErrorReporter*> m_pReporter;
    std::atomic<int> m_nExitCode;
    // A gone device is reported once; the thread then stops watching it.
    std::atomic<bool> m_bDeviceGone;
    int m_nOpenError;

    // Set before the shutdown event; the monitor thread looks at it between hand-overs.
    std::atomic<bool> m_bStopRequested;
    // Made by StartMonitoring; the monitor thread's way to the owner.
    std::shared_ptr<CPortMailbox> m_pMailbox;
    CPortMailbox::SItem m_item; // monitor thread only: the item it is filling

    // Monitor thread only: bytes read from the driver and not yet handed over.
    std::unique_ptr<unsigned char[]> m_abAhead;
    uint32_t m_nAheadPos = 0;
    uint32_t m_nAheadLen = 0;
    bool m_bAheadFailed = false; // a quiet read failed: read again only the plain way
    bool m_bInBox = false; // a box is on its way (maybe under the port lock): no reads, no notes
    // Set by WriteToPort (under m_mxWriteBuffer), cleared when the monitor takes the bytes.
    std::atomic<bool> m_bWriteRequested;
    bool m_bQuotaNoted = false; // monitor thread only
    uint64_t m_nQuota = 0; // bytes still to hand over before the write
    std::atomic<uint64_t> m_nWritesCounted { 0 };
    // Monitor thread only: whether input comes as a stream of passes with no write between.
    std::chrono::steady_clock::time_point m_tpLastPass;
    bool m_bWroteSinceLastPass = true;
    bool m_bStreaming = false;

    SLineControl m_lineControl;
    bool m_bLineApplied = false;
    bool m_bDtr = false;
    bool m_bRts = false;
    bool m_bBreak = false;
};
