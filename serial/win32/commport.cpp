#include "../commport.h"

#include <windows.h>

#include <algorithm>

struct CCommPort::SPlatform {
    HANDLE hFile = INVALID_HANDLE_VALUE;
    DCB dcbFound {};
    COMMTIMEOUTS timeoutsFound {};
    bool bTimeoutsFound = false;
    // One record each, so that the event wait can stay armed while the thread reads and writes.
    OVERLAPPED ovWait {};
    OVERLAPPED ovRead {};
    OVERLAPPED ovWrite {};
    DWORD dwEvents = 0; // filled in by the event wait
    bool bWaitPending = false;

    ~SPlatform()
    {
        for (HANDLE hEvent : { ovWait.hEvent, ovRead.hEvent, ovWrite.hEvent }) {
            if (hEvent)
                ::CloseHandle(hEvent);
        }
        if (hFile != INVALID_HANDLE_VALUE)
            ::CloseHandle(hFile);
    }
};

namespace {

// A port operation that did not end by itself is cancelled; the record it writes to must not be
// freed before it has ended. False when it has not ended even then.
bool Finish(HANDLE hFile, OVERLAPPED& ov, DWORD& nDone, DWORD nWaitMs, bool& bOk)
{
    DWORD nWait = ::WaitForSingleObject(ov.hEvent, nWaitMs);
    if (nWait != WAIT_OBJECT_0) {
        ::CancelIoEx(hFile, &ov);
        nWait = ::WaitForSingleObject(ov.hEvent, 2000);
    }
    if (nWait != WAIT_OBJECT_0)
        return false;
    bOk = ::GetOverlappedResult(hFile, &ov, &nDone, FALSE);
    return true;
}

// cbInQue, or -1 (with the reason as the last error) when the port cannot tell.
int64_t InQueue(HANDLE hFile)
{
    DWORD dwErrors = 0;
    COMSTAT stat {};
    if (!::ClearCommError(hFile, &dwErrors, &stat))
        return -1;
    return stat.cbInQue;
}

} // namespace

CCommPort::CCommPort(std::unique_ptr<SPlatform> pPlatform)
    : m_pPlatform(std::move(pPlatform))
{ }

std::unique_ptr<CCommPort> CCommPort::Open(const std::string& strPath)
{
    std::unique_ptr<SPlatform> p(new SPlatform);
    p->hFile = ::CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (p->hFile == INVALID_HANDLE_VALUE)
        return nullptr;
    // A file or another device opens as well: only one that keeps line settings is a port.
    if (::GetFileType(p->hFile) != FILE_TYPE_CHAR) {
        p.reset();
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    p->dcbFound.DCBlength = sizeof p->dcbFound;
    if (!::GetCommState(p->hFile, &p->dcbFound)) {
        const DWORD nError = ::GetLastError();
        p.reset();
        ::SetLastError(nError);
        return nullptr;
    }
    p->bTimeoutsFound = ::GetCommTimeouts(p->hFile, &p->timeoutsFound);
    for (OVERLAPPED* pOv : { &p->ovWait, &p->ovRead, &p->ovWrite }) {
        pOv->hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!pOv->hEvent) {
            const DWORD nError = ::GetLastError();
            p.reset();
            ::SetLastError(nError);
            return nullptr;
        }
    }
    return std::unique_ptr<CCommPort>(new CCommPort(std::move(p)));
}

CCommPort::~CCommPort()
{
    SPlatform& p = *m_pPlatform;
    // A new mask ends the armed wait. Failures are expected once the device has gone.
    ::SetCommMask(p.hFile, 0);
    DWORD nDone = 0;
    bool bOk = false;
    if (p.bWaitPending && !Finish(p.hFile, p.ovWait, nDone, 1000, bOk)) {
        // The system may still write to the record: close the port, keep the memory.
        ::CloseHandle(p.hFile);
        m_pPlatform.release();
        return;
    }
    ::SetCommState(p.hFile, &p.dcbFound);
    if (p.bTimeoutsFound)
        ::SetCommTimeouts(p.hFile, &p.timeoutsFound);
}

bool CCommPort::SetCommTimeouts(const SPortTimeouts& timeouts)
{
    // Reads take only what is queued and never wait; writes have the limits given.
    COMMTIMEOUTS t {};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    if (!::SetCommTimeouts(m_pPlatform->hFile, &t))
        return false;
    m_timeouts = timeouts;
    return true;
}

bool CCommPort::SetCommMask(uint32_t dwMask)
{
    if (!::SetCommMask(m_pPlatform->hFile, dwMask))
        return false;
    m_dwMask = dwMask;
    return true;
}

bool CCommPort::GetCommState(SLineSettings& dcb) const
{
    DCB state {};
    state.DCBlength = sizeof state;
    if (!::GetCommState(m_pPlatform->hFile, &state))
        return false;
    dcb.BaudRate = state.BaudRate;
    dcb.ByteSize = state.ByteSize;
    dcb.Parity = state.Parity;
    dcb.StopBits = state.StopBits;
    dcb.fRtsControl = static_cast<uint8_t>(state.fRtsControl);
    dcb.fDtrControl = state.fDtrControl == DTR_CONTROL_DISABLE ? 0 : 1;
    dcb.fOutxCtsFlow = state.fOutxCtsFlow ? 1 : 0;
    dcb.fOutX = state.fOutX ? 1 : 0;
    dcb.fInX = state.fInX ? 1 : 0;
    return true;
}

bool CCommPort::SetCommState(const SLineSettings& dcb)
{
    // The driver's whole record, as found, with our settings and only the flow control asked for.
    DCB state {};
    state.DCBlength = sizeof state;
    if (!::GetCommState(m_pPlatform->hFile, &state))
        return false;
    state.BaudRate = dcb.BaudRate;
    state.ByteSize = dcb.ByteSize;
    state.Parity = dcb.Parity;
    state.StopBits = dcb.StopBits;
    state.fBinary = TRUE;
    state.fParity = dcb.Parity != NOPARITY;
    state.fOutxCtsFlow = dcb.fOutxCtsFlow ? TRUE : FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fDsrSensitivity = FALSE;
    state.fOutX = dcb.fOutX ? TRUE : FALSE;
    state.fInX = dcb.fInX ? TRUE : FALSE;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.fErrorChar = FALSE;
    state.fNull = FALSE;
    // Otherwise a line error would fail every read and write until it is cleared.
    state.fAbortOnError = FALSE;
    state.fDtrControl = dcb.fDtrControl == 0 ? DTR_CONTROL_DISABLE : DTR_CONTROL_ENABLE;
    state.fRtsControl = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ? RTS_CONTROL_HANDSHAKE
        : dcb.fRtsControl == RTS_CONTROL_ENABLE                  ? RTS_CONTROL_ENABLE
                                                                 : RTS_CONTROL_DISABLE;
    if (!::SetCommState(m_pPlatform->hFile, &state))
        return false;
    // A driver may take a rate and run at the nearest its clock makes.
    DCB now {};
    now.DCBlength = sizeof now;
    if (!::GetCommState(m_pPlatform->hFile, &now))
        return false;
    if (!RateCloseEnough(dcb.BaudRate, now.BaudRate)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    m_nBaud = now.BaudRate;
    return true;
}

bool CCommPort::SystemEscape(uint32_t dwFunc)
{
    switch (dwFunc) {
    case SETBREAK:
        return ::SetCommBreak(m_pPlatform->hFile);
    case CLRBREAK:
        return ::ClearCommBreak(m_pPlatform->hFile);
    case SETDTR:
    case CLRDTR:
    case SETRTS:
    case CLRRTS:
        return ::EscapeCommFunction(m_pPlatform->hFile, dwFunc);
    }
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

bool CCommPort::SystemModemStatus(uint32_t& dwStatus) const
{
    DWORD dw = 0;
    if (!::GetCommModemStatus(m_pPlatform->hFile, &dw))
        return false;
    dwStatus = dw & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return true;
}

void CCommPort::Purge(uint32_t dwFlags)
{
    ::PurgeComm(m_pPlatform->hFile, dwFlags);
}

WaitHandle CCommPort::EventHandle() const
{
    return m_dwMask ? reinterpret_cast<WaitHandle>(m_pPlatform->ovWait.hEvent) : g_hNoWait;
}

CCommPort::Arm CCommPort::WaitCommEvent()
{
    SPlatform& p = *m_pPlatform;
    // Reset first: a wait that ends after the look below sets it again.
    ::ResetEvent(p.ovWait.hEvent);
    if (p.bWaitPending && HasOverlappedIoCompleted(&p.ovWait)) {
        // The event it reported has been served: collect it, then arm anew.
        p.bWaitPending = false;
        DWORD nDone = 0;
        if (!::GetOverlappedResult(p.hFile, &p.ovWait, &nDone, FALSE))
            return Arm::Failed; // a vanished adapter ends the wait this way
    }
    if (!p.bWaitPending) {
        if (::WaitCommEvent(p.hFile, &p.dwEvents, &p.ovWait)) {
            ::SetEvent(p.ovWait.hEvent);
            return Arm::Ready;
        }
        const DWORD nError = ::GetLastError();
        // ERROR_INVALID_PARAMETER: one is armed already, whose end sets the signal.
        if (nError != ERROR_IO_PENDING && nError != ERROR_INVALID_PARAMETER)
            return Arm::Failed;
        p.bWaitPending = nError == ERROR_IO_PENDING;
    }
    // Bytes that came before the wait was armed raise no event of their own. A port that cannot
    // say what it holds has gone (an adapter pulled, a line hung up), as on every pass to come.
    const int64_t nQueued = InQueue(p.hFile);
    if (nQueued < 0)
        return Arm::Failed;
    if (nQueued == 0)
        return Arm::Pending;
    ::SetEvent(p.ovWait.hEvent);
    return Arm::Ready;
}

uint32_t CCommPort::QueuedBytes() const
{
    const int64_t nQueued = InQueue(m_pPlatform->hFile);
    return nQueued < 0 ? 1 : static_cast<uint32_t>(nQueued);
}

CCommPort::Io CCommPort::Read(unsigned char* pBuffer, uint32_t nCapacity, uint32_t& nRead)
{
    nRead = 0;
    SPlatform& p = *m_pPlatform;
    const int64_t nQueued = InQueue(p.hFile);
    if (nQueued < 0)
        return Io::Failed;
    // Only what is queued, in one call: each call is a round trip to the system.
    const DWORD nWant = static_cast<DWORD>(std::min<int64_t>(nQueued, nCapacity));
    if (nWant == 0)
        return Io::Empty;
    ::ResetEvent(p.ovRead.hEvent);
    DWORD nDone = 0;
    if (!::ReadFile(p.hFile, pBuffer, nWant, &nDone, &p.ovRead)) {
        if (::GetLastError() != ERROR_IO_PENDING)
            return Io::Failed;
        bool bOk = false;
        if (!Finish(p.hFile, p.ovRead, nDone, 1000, bOk)) {
            ::SetLastError(ERROR_TIMEOUT);
            return Io::Failed;
        }
        if (!bOk)
            return Io::Failed;
    }
    nRead = nDone;
    return nDone > 0 ? Io::Done : Io::Empty;
}

CCommPort::Write CCommPort::WriteBytes(
    const unsigned char* pBytes, uint32_t nCount, WaitHandle hAbort, uint32_t& nEarlyInput)
{
    SPlatform& p = *m_pPlatform;
    const int64_t nQueued = InQueue(p.hFile);
    nEarlyInput = nQueued > 0 ? static_cast<uint32_t>(nQueued) : 0;
    ::ResetEvent(p.ovWrite.hEvent);
    DWORD nDone = 0;
    if (!::WriteFile(p.hFile, pBytes, nCount, &nDone, &p.ovWrite)) {
        if (::GetLastError() != ERROR_IO_PENDING)
            return Write::FailedAtOnce;
        // The driver keeps the write time-out; this wait is only a backstop to it.
        const uint64_t nLimitMs = WriteTimeoutMs(m_timeouts, nCount) + 1000;
        const HANDLE aWait[2] = { p.ovWrite.hEvent, reinterpret_cast<HANDLE>(hAbort) };
        const DWORD nResult = ::WaitForMultipleObjects(hAbort == g_hNoWait ? 1 : 2, aWait, FALSE,
            static_cast<DWORD>(std::min<uint64_t>(nLimitMs, INFINITE - 1)));
        bool bOk = false;
        if (!Finish(p.hFile, p.ovWrite, nDone, 0, bOk)) {
            // Not even a cancel ended it: the record stays the system's until the port closes.
            ::SetLastError(ERROR_TIMEOUT);
            return Write::FailedLater;
        }
        if (nResult == WAIT_OBJECT_0 + 1)
            return Write::Aborted;
        if (nResult == WAIT_TIMEOUT)
            ::SetLastError(ERROR_TIMEOUT);
        if (!bOk)
            return Write::FailedLater;
    }
    if (nDone != nCount) {
        // The driver gave up at its time-out.
        ::SetLastError(ERROR_TIMEOUT);
        return Write::FailedLater;
    }
    return Write::Done;
}
