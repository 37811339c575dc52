#include "serialport.h"

#include "portnames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

namespace {

constexpr int g_nExitCode = 100;
constexpr uint32_t g_dwPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
const char* const g_szCaption = "Application Error";

std::thread StartThread(void (*pfnMain)(CSerialPort*), CSerialPort* port)
{
    return std::thread(pfnMain, port);
}
std::atomic<CSerialPort::FThreadStarter> g_pfnStartThread { StartThread };
// Room for what the driver holds while the owner is busy: 0.7 s at 921600 baud.
constexpr uint32_t g_nReadAhead = 64 * 1024;
// Bytes handed over in one item; a pty gives at most 4095 a read anyway.
constexpr uint32_t g_nItemBytes = 4096;
// A steady stream that wakes both threads for every byte or two costs far more than the bytes:
// at 115200 baud the window took 35 % of a core without gathering, 8.5 % with 1 ms, 7 % with
// 2 ms and 6 % with 4 ms (bench_terminal). 2 ms is out of sight on a screen that is painted
// every frame, and answers to a write are never held back.
std::atomic<unsigned> g_nGatherUs { 2000 };
// The port whose monitor loop runs on this thread, so its boxes know to go to the owner.
thread_local const CSerialPort* g_pMonitoredPort = nullptr;

void Report(CErrorReporter* pReporter, const std::string& strText)
{
    if (pReporter)
        pReporter->ShowError(g_szCaption, strText);
    else
        std::fprintf(stderr, "%s: %s", g_szCaption, strText.c_str());
}

} // namespace

CSerialPort::CSerialPort()
    : m_nWriteSize(0)
    , m_bThreadAlive(false)
    , m_hEventArray { -1, -1, -1 }
    , m_pOwner(nullptr)
    , m_nPortNr(0)
    , m_dwCommEvents(0)
    , m_nWriteBufferSize(0)
    , m_nWritesAccepted(0)
    , m_bAcceptWrites(false)
    , m_pReporter(nullptr)
    , m_nExitCode(0)
    , m_bDeviceGone(false)
    , m_nOpenError(0)
    , m_bStopRequested(false)
    , m_bWriteRequested(false)
{ }

CSerialPort::~CSerialPort()
{
    StopMonitorThread();
    std::lock_guard<std::mutex> lock(m_csCommunicationSync);
    m_hComm.reset();
}

void CSerialPort::SetErrorReporter(CErrorReporter* pReporter)
{
    m_pReporter.store(pReporter);
}

void CSerialPort::SetThreadStarter(FThreadStarter pfnStart)
{
    g_pfnStartThread.store(pfnStart ? pfnStart : StartThread);
}

void CSerialPort::SetStreamGatherMicros(unsigned nMicros)
{
    g_nGatherUs.store(nMicros);
}

bool CSerialPort::PortOpen() const
{
    return m_hComm != nullptr;
}

uint32_t CSerialPort::WriteSize() const
{
    std::lock_guard<std::mutex> lock(m_mxWriteBuffer);
    return m_nWriteSize;
}

bool CSerialPort::HasWriteBuffer() const
{
    std::lock_guard<std::mutex> lock(m_mxWriteBuffer);
    return m_szWriteBuffer != nullptr;
}

bool CSerialPort::InitPort(CSerialPortOwner* pPortOwner, unsigned portnr, unsigned baud,
    char parity, unsigned databits, unsigned stopbits, uint32_t dwCommEvents, unsigned nBufferSize)
{
    return InitPort(pPortOwner, "COM" + std::to_string(portnr), portnr, baud, parity, databits,
        stopbits, dwCommEvents, nBufferSize);
}

bool CSerialPort::InitPort(CSerialPortOwner* pPortOwner, const std::string& strDevice,
    unsigned portnr, unsigned baud, char parity, unsigned databits, unsigned stopbits,
    uint32_t dwCommEvents, unsigned nBufferSize)
{
    StopMonitorThread();

    // Fresh events every time; a closure left from the old cycle cannot reach these.
    {
        std::lock_guard<std::mutex> lock(m_mxWriteBuffer);
        m_bAcceptWrites = false;
        m_hWriteEvent.reset(new CCommEvent);
    }
    m_hShutdownEvent.reset(new CCommEvent);
    const bool bEventsMade
        = m_hWriteEvent->Handle() != g_hNoWait && m_hShutdownEvent->Handle() != g_hNoWait;
    const int nEventError = LastSystemError();
    m_hEventArray[0] = m_hShutdownEvent->Handle();
    m_hEventArray[1] = g_hNoWait;
    m_hEventArray[2] = m_hWriteEvent->Handle();

    m_pOwner = pPortOwner;
    {
        std::lock_guard<std::mutex> lock(m_mxWriteBuffer);
        m_szWriteBuffer.reset(new (std::nothrow) unsigned char[nBufferSize ? nBufferSize : 1]);
        m_szSendBuffer.reset(new (std::nothrow) unsigned char[nBufferSize ? nBufferSize : 1]);
        if (!m_szWriteBuffer || !m_szSendBuffer) {
            m_szWriteBuffer.reset();
            m_szSendBuffer.reset();
            nBufferSize = 0;
        }
        m_nWriteSize = 0;
        m_nWritesAccepted = 0;
        m_bAcceptWrites = false;
    }
    m_nPortNr = static_cast<int>(portnr);
    m_nWriteBufferSize = nBufferSize;
    m_dwCommEvents = dwCommEvents;
    m_bDeviceGone = false;

    std::lock_guard<std::mutex> lock(m_csCommunicationSync);
    m_hComm.reset();
    m_ov = OVERLAPPED {};
    m_bLineApplied = m_bDtr = m_bRts = m_bBreak = false;

    const std::string strMode = "baud=" + std::to_string(baud) + " parity=" + std::string(1, parity)
        + " data=" + std::to_string(databits) + " stop=" + std::to_string(stopbits);

    if (!bEventsMade) {
        SetLastSystemError(m_nOpenError = nEventError);
        return false;
    }
    m_hComm = CCommPort::Open(ResolvePortName(strDevice));
    if (!m_hComm) {
        m_nOpenError = LastSystemError();
        return false;
    }

    m_CommTimeouts.ReadIntervalTimeout = 1000;
    m_CommTimeouts.ReadTotalTimeoutMultiplier = 1000;
    m_CommTimeouts.ReadTotalTimeoutConstant = 1000;
    m_CommTimeouts.WriteTotalTimeoutMultiplier = 1000;
    m_CommTimeouts.WriteTotalTimeoutConstant = 1000;
    if (!m_hComm->SetCommTimeouts(m_CommTimeouts)) {
        ProcessErrorMessage("SetCommTimeouts()");
    } else if (!m_hComm->SetCommMask(dwCommEvents)) {
        ProcessErrorMessage("SetCommMask()");
    } else if (!m_hComm->GetCommState(m_dcb)) {
        ProcessErrorMessage("GetCommState()");
    } else {
        ApplyLineControl(m_lineControl, m_dcb);
        if (!BuildCommDCB(strMode, m_dcb))
            ProcessErrorMessage("BuildCommDCB()");
        else if (!m_hComm->SetCommState(m_dcb))
            ProcessErrorMessage("SetCommState()");
        else
            NoteLinesSet();
    }
    m_ov.hEvent = m_hComm->EventHandle();
    m_hEventArray[1] = m_ov.hEvent;

    m_hComm->Purge(g_dwPurgeAll);
    std::lock_guard<std::mutex> lockBuffer(m_mxWriteBuffer);
    m_bAcceptWrites = true;
    return true;
}

void CSerialPort::NoteLinesSet()
{
    m_bLineApplied = true;
    m_bRts = m_dcb.fRtsControl != RTS_CONTROL_DISABLE;
    m_bDtr = m_dcb.fDtrControl != DTR_CONTROL_DISABLE;
}

void CSerialPort::ApplyLineControl(const SLineControl& control, DCB& dcb)
{
    dcb.fOutxCtsFlow = control.eFlow == SLineControl::FLOW_RTSCTS;
    dcb.fOutX = dcb.fInX = control.eFlow == SLineControl::FLOW_XONXOFF;
    dcb.fRtsControl = control.eFlow == SLineControl::FLOW_RTSCTS ? RTS_CONTROL_HANDSHAKE
        : control.bRts                                           ? RTS_CONTROL_ENABLE
                                                                 : RTS_CONTROL_DISABLE;
    if (control.nDtr >= 0)
        dcb.fDtrControl = control.nDtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
}

bool CSerialPort::ChangeLineSettings(
    unsigned baud, char parity, unsigned databits, unsigned stopbits)
{
    std::lock_guard<std::mutex> lock(m_csCommunicationSync);
    if (!m_hComm) {
        SetLastSystemError(g_nInvalidArgument);
        return false;
    }
    DCB dcb = m_dcb;
    // Levels at open are for the next open: DTR or RTS changed now could reset the board.
    SLineControl control = m_lineControl;
    control.nDtr = m_bDtr ? 1 : 0;
    control.bRts = m_bRts;
    ApplyLineControl(control, dcb);
    const std::string strMode = "baud=" + std::to_string(baud) + " parity=" + std::string(1, parity)
        + " data=" + std::to_string(databits) + " stop=" + std::to_string(stopbits);
    if (!BuildCommDCB(strMode, dcb))
        return false;
    if (!m_hComm->SetCommState(dcb)) {
        const int nError = LastSystemError();
        // A driver may have taken part of it: put back what ran before.
        if (m_bLineApplied)
            m_hComm->SetCommState(m_dcb);
        SetLastSystemError(nError);
        return false;
    }
    m_dcb = dcb;
    NoteLinesSet();
    return true;
}

bool CSerialPort::EscapeCommFunction(uint32_t dwFunc)
{
    // No lock: the line calls change nothing the monitor thread's transfers rely on, and must not
    // wait behind a long write.
    if (!m_hComm) {
        SetLastSystemError(g_nInvalidArgument);
        return false;
    }
    if (!m_hComm->EscapeCommFunction(dwFunc))
        return false;
    switch (dwFunc) {
    case SETDTR:
    case CLRDTR:
        m_bDtr = dwFunc == SETDTR;
        break;
    case SETRTS:
    case CLRRTS:
        m_bRts = dwFunc == SETRTS;
        break;
    case SETBREAK:
    case CLRBREAK:
        m_bBreak = dwFunc == SETBREAK;
        break;
    }
    return true;
}

bool CSerialPort::GetCommModemStatus(uint32_t& dwStatus) const
{
    dwStatus = 0;
    if (!m_hComm) {
        SetLastSystemError(g_nInvalidArgument);
        return false;
    }
    return m_hComm->GetCommModemStatus(dwStatus);
}

bool CSerialPort::StartMonitoring()
{
    if (m_Thread.joinable() || !m_hShutdownEvent)
        return false;
    m_bStopRequested.store(false);
    m_pMailbox = m_pOwner ? std::make_shared<CPortMailbox>(m_pOwner, m_nPortNr) : nullptr;
    if (m_pMailbox && !m_pMailbox->IsUsable()) {
        m_pMailbox.reset();
        return false;
    }
    m_item = CPortMailbox::SItem {};
    if (!m_abAhead)
        m_abAhead.reset(new (std::nothrow) unsigned char[g_nReadAhead]);
    if (!m_abAhead)
        return false;
    DropReadAhead();
    m_bAheadFailed = m_bInBox = false;
    m_bQuotaNoted = false;
    m_nQuota = 0;
    m_bWroteSinceLastPass = true;
    m_bStreaming = false;
    try {
        m_Thread = g_pfnStartThread.load()(CommThread, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

uint64_t CSerialPort::WriteToPort(const unsigned char* pBytes, uint32_t nCount)
{
    if (!pBytes && nCount > 0)
        return 0;
    std::lock_guard<std::mutex> lock(m_mxWriteBuffer);
    if (!m_bAcceptWrites || !m_szWriteBuffer || nCount > m_nWriteBufferSize - m_nWriteSize)
        return 0;
    if (nCount > 0)
        std::memcpy(m_szWriteBuffer.get() + m_nWriteSize, pBytes, nCount);
    m_nWriteSize += nCount;
    m_bWriteRequested.store(true);
    m_hWriteEvent->Set();
    return ++m_nWritesAccepted;
}

void CSerialPort::ClosePort()
{
    StopMonitorThread();
    {
        std::lock_guard<std::mutex> lock(m_mxWriteBuffer);
        m_szWriteBuffer.reset();
        m_szSendBuffer.reset();
        m_nWriteSize = 0;
        m_bAcceptWrites = false;
        // Released rather than only reset: a closed port holds no descriptors.
        m_hWriteEvent.reset();
    }
    m_hShutdownEvent.reset();
    m_hEventArray[0] = m_hEventArray[2] = g_hNoWait;
    std::lock_guard<std::mutex> lock(m_csCommunicationSync);
    m_hComm.reset();
    m_ov.hEvent = g_hNoWait;
    m_hEventArray[1] = g_hNoWait;
    m_bLineApplied = m_bDtr = m_bRts = m_bBreak = false;
}

void CSerialPort::StopMonitorThread()
{
    if (!m_Thread.joinable())
        return;
    m_bStopRequested.store(true);
    m_hShutdownEvent->Set();
    if (m_pMailbox)
        m_pMailbox->Cancel();
    m_Thread.join();
    m_pMailbox.reset();
}

void CSerialPort::ProcessErrorMessage(const char* szErrorText)
{
    const int nError = LastSystemError();
    // Built as a string, so no system text however long can overrun it.
    std::string strText = "WARNING:  ";
    strText += szErrorText ? szErrorText : "";
    strText += " Failed with the following error: \n";
    strText += SystemErrorText(nError);
    strText += "\nPort: " + std::to_string(m_nPortNr) + "\n";
    ShowBox(strText);
}

void CSerialPort::ShowBox(const std::string& strText)
{
    CErrorReporter* pReporter = m_pReporter.load();
    if (g_pMonitoredPort != this || !m_pMailbox) {
        Report(pReporter, strText);
        return;
    }
    // What was gathered so far comes first; the box holds the monitor until it is dismissed.
    m_bInBox = true;
    if (Flush() && WaitSlotFree(false)) {
        CPortMailbox::SItem item;
        item.fnCall = [pReporter, strText] { Report(pReporter, strText); };
        if (m_pMailbox->Put(item))
            WaitSlotFree(false);
    }
    m_bInBox = false;
}

bool CSerialPort::AddNote(unsigned nMessage, uintptr_t wParam)
{
    if (!m_pMailbox)
        return true;
    if (m_item.nNotes == CPortMailbox::g_nMaxNotes && !Flush())
        return false;
    if (m_item.bytes.empty())
        m_item.nBytesAt = m_item.nNotes + 1;
    m_item.aMessage[m_item.nNotes] = nMessage;
    m_item.aWParam[m_item.nNotes] = wParam;
    ++m_item.nNotes;
    return true;
}

bool CSerialPort::Flush()
{
    if (m_bStopRequested.load(std::memory_order_relaxed))
        return false;
    if (!m_pMailbox || m_item.IsEmpty())
        return true;
    return WaitSlotFree(!m_bInBox) && m_pMailbox->Put(m_item);
}

bool CSerialPort::WaitSlotFree(bool bNoteWrites)
{
    CPortMailbox& mailbox = *m_pMailbox;
    if (mailbox.SpinUntilFree())
        return !m_bStopRequested.load();
    for (;;) {
        if (m_bStopRequested.load() || mailbox.IsCancelled())
            return false;
        if (!mailbox.ArmWake())
            return !m_bStopRequested.load() && !mailbox.IsCancelled();
        // The port is read meanwhile, so the driver does not overflow while the owner is busy.
        const bool bNote = bNoteWrites && !m_bQuotaNoted;
        bool bRead = m_hComm && !m_bDeviceGone && !m_bAheadFailed && !m_bInBox
            && m_hEventArray[1] != g_hNoWait && m_nAheadLen - m_nAheadPos < g_nReadAhead;
        if (bRead) {
            // Armed before every wait on it; a failure is left for the loop's own arming.
            const CCommPort::Arm eArm = m_hComm->WaitCommEvent();
            bRead = eArm == CCommPort::Arm::Ready || eArm == CCommPort::Arm::Pending;
        }
        const WaitHandle aHandles[4] = { m_hEventArray[0], mailbox.WakeHandle(),
            bRead ? m_hEventArray[1] : g_hNoWait, bNote ? m_hEventArray[2] : g_hNoWait };
        const int nEvent = CCommEvent::WaitAny(aHandles, 4);
        mailbox.DisarmWake(nEvent == 1);
        if (nEvent == 0)
            return false;
        if (nEvent == 2)
            ReadAhead(true);
        else if (nEvent == 3)
            NoteWriteQuota();
    }
}

void CSerialPort::CommThread(CSerialPort* port)
{
    g_pMonitoredPort = port;
    port->m_bThreadAlive.store(true);
    if (port->m_hComm) {
        std::lock_guard<std::mutex> lock(port->m_csCommunicationSync);
        port->m_hComm->Purge(g_dwPurgeAll);
    }
    if (port->m_pMailbox)
        port->m_pMailbox->SetMonitorBusy(true);

    while (!port->m_bStopRequested.load()) {
        const bool bWatchPort
            = port->m_hComm && !port->m_bDeviceGone && port->m_hEventArray[1] != g_hNoWait;
        int nEvent;
        if (port->WriteDue()) {
            // Its bytes have been handed over: it goes before whatever arrived since.
            nEvent = 2;
        } else if (bWatchPort && port->m_nAheadPos < port->m_nAheadLen) {
            nEvent = 1; // bytes read ahead are a port event not yet served
        } else {
            const unsigned nGatherUs = g_nGatherUs.load(std::memory_order_relaxed);
            if (port->m_bStreaming && nGatherUs > 0) {
                port->m_bStreaming = false;
                // Shutdown and write requests are served at once; only the port waits.
                if (!port->Flush())
                    break;
                const WaitHandle aHandles[3]
                    = { port->m_hEventArray[0], g_hNoWait, port->m_hEventArray[2] };
                if (port->m_pMailbox)
                    port->m_pMailbox->SetMonitorBusy(false);
                CCommEvent::WaitAny(aHandles, 3, nGatherUs);
                if (port->m_pMailbox)
                    port->m_pMailbox->SetMonitorBusy(true);
            }
            if (bWatchPort) {
                switch (port->m_hComm->WaitCommEvent()) {
                case CCommPort::Arm::Ready:
                    if (port->m_hComm->QueuedBytes() == 0)
                        continue;
                    break;
                case CCommPort::Arm::Pending:
                    break;
                case CCommPort::Arm::Failed:
                    port->ProcessErrorMessage("WaitCommEvent()");
                    // A port that cannot be polled would fail the same way on every pass.
                    port->m_bDeviceGone = true;
                    break;
                }
            }
            // Everything gathered goes before the thread sleeps; the wait for the owner may have
            // read ahead or seen a write that is due.
            if (!port->Flush())
                break;
            if (port->WriteDue() || (bWatchPort && port->m_nAheadPos < port->m_nAheadLen))
                continue;
            const WaitHandle aHandles[3] = { port->m_hEventArray[0],
                (bWatchPort && !port->m_bDeviceGone) ? port->m_hEventArray[1] : g_hNoWait,
                port->m_hEventArray[2] };
            if (port->m_pMailbox)
                port->m_pMailbox->SetMonitorBusy(false);
            nEvent = CCommEvent::WaitAny(aHandles, 3);
            if (port->m_pMailbox)
                port->m_pMailbox->SetMonitorBusy(true);
        }
        if (nEvent == 0)
            break;
        if (nEvent == 1) {
            // A pass soon after the last, with no write between, is part of a stream.
            const auto tpNow = std::chrono::steady_clock::now();
            const auto nGap = std::chrono::microseconds(
                std::max(2000u, 2 * g_nGatherUs.load(std::memory_order_relaxed)));
            port->m_bStreaming = !port->m_bWroteSinceLastPass && tpNow - port->m_tpLastPass < nGap;
            port->m_tpLastPass = tpNow;
            port->m_bWroteSinceLastPass = false;
            uint32_t dwMask = 0;
            port->m_hComm->GetCommMask(dwMask);
            static const struct {
                uint32_t dwEvent;
                unsigned nMessage;
            } aEvents[] = { { EV_CTS, WM_COMM_CTS_DETECTED },
                { EV_RXFLAG, WM_COMM_RXFLAG_DETECTED }, { EV_BREAK, WM_COMM_BREAK_DETECTED },
                { EV_ERR, WM_COMM_ERR_DETECTED }, { EV_RING, WM_COMM_RING_DETECTED } };
            bool bGoOn = true;
            for (const auto& event : aEvents) {
                if (bGoOn && (dwMask & event.dwEvent))
                    bGoOn = port->AddNote(event.nMessage, 0);
            }
            if (bGoOn && (dwMask & EV_RXCHAR))
                ReceiveChar(port);
        } else if (nEvent == 2) {
            WriteChar(port);
        }
    }

    port->m_nExitCode.store(g_nExitCode);
    port->m_bThreadAlive.store(false);
    g_pMonitoredPort = nullptr;
}

void CSerialPort::ReceiveChar(CSerialPort* port)
{
    DeliverQueued(port, UINT64_MAX);
}

bool CSerialPort::DeliverQueued(CSerialPort* port, uint64_t nMax)
{
    while (nMax > 0) {
        if (port->m_bStopRequested.load(std::memory_order_relaxed))
            return false;
        port->NoteWriteQuota();
        if (port->WriteDue())
            break;
        if (port->m_nAheadPos == port->m_nAheadLen && !port->ReadAhead())
            break;
        CPortMailbox::SItem& item = port->m_item;
        if (!item.bytes.empty() || item.nBytesAt < item.nNotes) {
            // One run of bytes an item: the gathered one goes first. The wait for it may read
            // ahead and note a write request, so everything is looked at again after it.
            if (!port->Flush())
                return false;
            continue;
        }
        uint64_t nTake = std::min<uint64_t>(
            { port->m_nAheadLen - port->m_nAheadPos, nMax, uint64_t(g_nItemBytes) });
        if (port->m_bQuotaNoted)
            nTake = std::min(nTake, port->m_nQuota);
        if (port->m_pMailbox) {
            const unsigned char* pFrom = port->m_abAhead.get() + port->m_nAheadPos;
            item.nBytesAt = item.nNotes;
            item.bytes.assign(pFrom, pFrom + nTake);
        }
        port->m_nAheadPos += static_cast<uint32_t>(nTake);
        nMax -= nTake;
        if (port->m_bQuotaNoted)
            port->m_nQuota -= nTake;
    }
    return true;
}

bool CSerialPort::ReadAhead(bool bQuiet)
{
    std::lock_guard<std::mutex> lock(m_csCommunicationSync);
    if (m_bDeviceGone)
        return false;
    if (!bQuiet)
        m_bAheadFailed = false;
    // Room at the end: what is left moves to the front when most of the buffer is behind us.
    if (m_nAheadPos == m_nAheadLen) {
        m_nAheadPos = m_nAheadLen = 0;
    } else if (m_nAheadPos >= g_nReadAhead / 2) {
        std::memmove(m_abAhead.get(), m_abAhead.get() + m_nAheadPos, m_nAheadLen - m_nAheadPos);
        m_nAheadLen -= m_nAheadPos;
        m_nAheadPos = 0;
    }
    if (m_nAheadLen == g_nReadAhead)
        return false;
    uint32_t nRead = 0;
    switch (m_hComm->Read(m_abAhead.get() + m_nAheadLen, g_nReadAhead - m_nAheadLen, nRead)) {
    case CCommPort::Io::Done:
        m_nAheadLen += nRead;
        return true;
    case CCommPort::Io::Empty:
        return false;
    case CCommPort::Io::Failed:
        if (bQuiet) {
            m_bAheadFailed = true;
            return false;
        }
        // On POSIX a failed read means the device is unusable (gone, hung up): say so once
        // and stop watching it, or every poll would wake us to fail again. Marked first, so
        // the owner knows it while the box is up.
        m_bDeviceGone = true;
        ProcessErrorMessage("ReadFile()");
        return false;
    }
    return false;
}

void CSerialPort::DropReadAhead()
{
    m_nAheadPos = m_nAheadLen = 0;
}

void CSerialPort::NoteWriteQuota()
{
    if (m_bQuotaNoted || !m_bWriteRequested.load())
        return;
    uint64_t nQueued = m_nAheadLen - m_nAheadPos;
    {
        std::lock_guard<std::mutex> lock(m_csCommunicationSync);
        if (m_hComm && !m_bDeviceGone)
            nQueued += m_hComm->QueuedBytes();
    }
    m_nQuota = nQueued;
    m_bQuotaNoted = true;
    m_nWritesCounted.fetch_add(1);
}

void CSerialPort::WriteChar(CSerialPort* port)
{
    port->m_hWriteEvent->Reset();
    uint32_t nCount = 0;
    uint64_t nWriteNr = 0;
    {
        // Taking the bytes here lets WriteToPort append behind them without touching a write.
        std::lock_guard<std::mutex> lock(port->m_mxWriteBuffer);
        nCount = port->m_nWriteSize;
        nWriteNr = port->m_nWritesAccepted;
        if (nCount > 0 && port->m_szWriteBuffer && port->m_szSendBuffer)
            std::memcpy(port->m_szSendBuffer.get(), port->m_szWriteBuffer.get(), nCount);
        port->m_nWriteSize = 0;
        port->m_bWriteRequested.store(false);
    }
    if (!port->m_bQuotaNoted && nCount > 0)
        port->m_nWritesCounted.fetch_add(1);
    port->m_bQuotaNoted = false;
    port->m_nQuota = 0;
    if (nCount == 0)
        return;
    // What answers a write is never held back.
    port->m_bWroteSinceLastPass = true;
    port->m_bStreaming = false;
    // After a gone device has been reported, writes are dropped rather than boxed one by one.
    if (!port->m_hComm || port->m_bDeviceGone) {
        port->AddNote(WM_COMM_TXFAILED, nWriteNr);
        return;
    }
    // Every byte handed over before the write has been handled before it starts. A request
    // made meanwhile is noted after this write: its purge takes what was queued before it.
    if (!port->Flush() || (port->m_pMailbox && !port->WaitSlotFree(false)))
        return;

    CCommPort::Write eResult;
    uint32_t nArrivedMeanwhile = 0;
    {
        std::lock_guard<std::mutex> lock(port->m_csCommunicationSync);
        port->m_ov.Offset = 0;
        port->m_ov.OffsetHigh = 0;
        // Unread input goes, read ahead or not; our own earlier output must not (a transmit
        // purge would cut it off).
        port->DropReadAhead();
        port->m_hComm->Purge(PURGE_RXABORT | PURGE_RXCLEAR);
        eResult = port->m_hComm->WriteBytes(port->m_szSendBuffer.get(), nCount,
            port->m_hShutdownEvent->Handle(), nArrivedMeanwhile);
        if (eResult != CCommPort::Write::Done && eResult != CCommPort::Write::Aborted) {
            const bool bGone = IsDeviceGoneError(LastSystemError());
            port->ProcessErrorMessage(eResult == CCommPort::Write::FailedAtOnce
                    ? "WriteFile()"
                    : "GetOverlappedResults() in WriteFile()");
            port->m_bDeviceGone = port->m_bDeviceGone || bGone;
        }
    }
    switch (eResult) {
    case CCommPort::Write::Done:
        // What came in before the last bytes went out cannot answer them: it goes first.
        if (DeliverQueued(port, nArrivedMeanwhile))
            port->AddNote(WM_COMM_TXEMPTY, nWriteNr);
        break;
    case CCommPort::Write::Aborted:
        break;
    case CCommPort::Write::FailedAtOnce:
    case CCommPort::Write::FailedLater:
        port->AddNote(WM_COMM_TXFAILED, nWriteNr);
        break;
    }
}
