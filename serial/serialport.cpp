#include "serialport.h"

#include "portdelivery.h"
#include "portnames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

namespace {

constexpr int g_nExitCode = 100;
constexpr uint32_t g_dwPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
const char* const g_szCaption = "Application Error";

// A short spin saves waking this thread for a quick owner: on an idle 2-core machine 20 us
// took a Qt owner from ~37,000 to ~49,000 bytes/s; longer spins gained nothing more.
std::atomic<unsigned> g_nSpinMicros { 20 };
std::thread StartThread(void (*pfnMain)(CSerialPort*), CSerialPort* port)
{
    return std::thread(pfnMain, port);
}
std::atomic<CSerialPort::FThreadStarter> g_pfnStartThread { StartThread };
// The port whose monitor loop runs on this thread, so its boxes know to go to the owner.
thread_local const CSerialPort* g_pMonitoredPort = nullptr;

void Report(CErrorReporter* pReporter, const std::string& strText)
{
    if (pReporter)
        pReporter->ShowError(g_szCaption, strText);
    else
        std::fprintf(stderr, "%s: %s", g_szCaption, strText.c_str());
}

bool DeviceGoneError(int nError)
{
    return nError == EIO || nError == ENXIO || nError == ENODEV;
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

void CSerialPort::SetDeliverySpinMicros(unsigned nMicros)
{
    g_nSpinMicros.store(nMicros);
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
    const bool bEventsMade = m_hWriteEvent->Fd() >= 0 && m_hShutdownEvent->Fd() >= 0;
    const int nEventError = errno;
    m_hEventArray[0] = m_hShutdownEvent->Fd();
    m_hEventArray[1] = -1;
    m_hEventArray[2] = m_hWriteEvent->Fd();

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

    const std::string strMode = "baud=" + std::to_string(baud) + " parity=" + std::string(1, parity)
        + " data=" + std::to_string(databits) + " stop=" + std::to_string(stopbits);

    if (!bEventsMade) {
        errno = m_nOpenError = nEventError;
        return false;
    }
    m_hComm = CCommPort::Open(ResolvePortName(strDevice));
    if (!m_hComm) {
        m_nOpenError = errno;
        return false;
    }
    m_ov.hEvent = m_hComm->Fd();
    // Only received bytes can be waited for on a POSIX port; without EV_RXCHAR nothing is.
    m_hEventArray[1] = (dwCommEvents & EV_RXCHAR) ? m_ov.hEvent : -1;

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
        m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (!BuildCommDCB(strMode, m_dcb))
            ProcessErrorMessage("BuildCommDCB()");
        else if (!m_hComm->SetCommState(m_dcb))
            ProcessErrorMessage("SetCommState()");
    }

    m_hComm->Purge(g_dwPurgeAll);
    std::lock_guard<std::mutex> lockBuffer(m_mxWriteBuffer);
    m_bAcceptWrites = true;
    return true;
}

bool CSerialPort::StartMonitoring()
{
    if (m_Thread.joinable() || !m_hShutdownEvent)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mxDelivery);
        m_bStopRequested = false;
        m_pDelivery.reset();
    }
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
    m_hEventArray[0] = m_hEventArray[2] = -1;
    std::lock_guard<std::mutex> lock(m_csCommunicationSync);
    m_hComm.reset();
    m_ov.hEvent = -1;
    m_hEventArray[1] = -1;
}

void CSerialPort::StopMonitorThread()
{
    if (!m_Thread.joinable())
        return;
    std::shared_ptr<CPortDelivery> pDelivery;
    {
        std::lock_guard<std::mutex> lock(m_mxDelivery);
        m_bStopRequested = true;
        pDelivery = m_pDelivery;
    }
    m_hShutdownEvent->Set();
    if (pDelivery)
        pDelivery->Cancel();
    m_Thread.join();
}

void CSerialPort::ProcessErrorMessage(const char* szErrorText)
{
    const int nError = errno;
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
    if (g_pMonitoredPort == this && m_pOwner)
        RunOnOwner([pReporter, strText] { Report(pReporter, strText); });
    else
        Report(pReporter, strText);
}

bool CSerialPort::RunOnOwner(std::function<void()> fn)
{
    auto pDelivery = std::make_shared<CPortDelivery>();
    {
        std::lock_guard<std::mutex> lock(m_mxDelivery);
        if (m_bStopRequested)
            return false;
        m_pDelivery = pDelivery;
    }
    m_pOwner->PostToOwner([pDelivery, fn = std::move(fn)] {
        if (!pDelivery->Begin())
            return;
        struct Finisher {
            CPortDelivery& delivery;
            ~Finisher() { delivery.Finish(); }
        } finisher { *pDelivery };
        fn();
    });
    const bool bDone = pDelivery->WaitDone(g_nSpinMicros.load());
    std::lock_guard<std::mutex> lock(m_mxDelivery);
    m_pDelivery.reset();
    return bDone;
}

bool CSerialPort::Notify(unsigned nMessage, uintptr_t wParam)
{
    if (!m_pOwner)
        return true;
    CSerialPortOwner* pOwner = m_pOwner;
    const intptr_t lParam = m_nPortNr;
    return RunOnOwner([pOwner, nMessage, wParam, lParam] {
        pOwner->OnPortNotification(nMessage, wParam, lParam);
    });
}

void CSerialPort::CommThread(CSerialPort* port)
{
    g_pMonitoredPort = port;
    port->m_bThreadAlive.store(true);
    if (port->m_hComm) {
        std::lock_guard<std::mutex> lock(port->m_csCommunicationSync);
        port->m_hComm->Purge(g_dwPurgeAll);
    }

    for (;;) {
        const bool bWatchPort
            = port->m_hComm && !port->m_bDeviceGone && port->m_hEventArray[1] >= 0;
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

        const int aFds[3] = { port->m_hEventArray[0],
            (bWatchPort && !port->m_bDeviceGone) ? port->m_hEventArray[1] : -1,
            port->m_hEventArray[2] };
        const int nEvent = CCommEvent::WaitAny(aFds, 3);
        if (nEvent == 0)
            break;
        if (nEvent == 1) {
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
                    bGoOn = port->Notify(event.nMessage, 0);
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
    for (; nMax > 0; --nMax) {
        {
            std::lock_guard<std::mutex> lock(port->m_csCommunicationSync);
            if (port->m_bDeviceGone || port->m_hComm->QueuedBytes() == 0)
                return true;
        }
        unsigned char byte = 0;
        {
            std::lock_guard<std::mutex> lock(port->m_csCommunicationSync);
            switch (port->m_hComm->ReadByte(byte)) {
            case CCommPort::Io::Done:
                break;
            case CCommPort::Io::Empty:
                return true; // the queued count was the driver lagging; wait for the port again
            case CCommPort::Io::Failed:
                // On POSIX a failed read means the device is unusable (gone, hung up): say so
                // once and stop watching it, or every poll would wake us to fail again. Marked
                // first, so the owner knows it while the box is up.
                port->m_bDeviceGone = true;
                port->ProcessErrorMessage("ReadFile()");
                return true;
            }
        }
        if (!port->Notify(WM_COMM_RXCHAR, byte))
            return false;
    }
    return true;
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
    }
    if (nCount == 0)
        return;
    // After a gone device has been reported, writes are dropped rather than boxed one by one.
    if (!port->m_hComm || port->m_bDeviceGone) {
        port->Notify(WM_COMM_TXFAILED, nWriteNr);
        return;
    }

    CCommPort::Write eResult;
    uint32_t nArrivedMeanwhile = 0;
    {
        std::lock_guard<std::mutex> lock(port->m_csCommunicationSync);
        port->m_ov.Offset = 0;
        port->m_ov.OffsetHigh = 0;
        // Unread input goes; our own earlier output must not (a transmit purge would cut it off).
        port->m_hComm->Purge(PURGE_RXABORT | PURGE_RXCLEAR);
        eResult = port->m_hComm->WriteBytes(
            port->m_szSendBuffer.get(), nCount, port->m_hShutdownEvent->Fd(), nArrivedMeanwhile);
        if (eResult != CCommPort::Write::Done && eResult != CCommPort::Write::Aborted) {
            const bool bGone = DeviceGoneError(errno);
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
            port->Notify(WM_COMM_TXEMPTY, nWriteNr);
        break;
    case CCommPort::Write::Aborted:
        break;
    case CCommPort::Write::FailedAtOnce:
    case CCommPort::Write::FailedLater:
        port->Notify(WM_COMM_TXFAILED, nWriteNr);
        break;
    }
}
