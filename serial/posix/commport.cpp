#include "../commport.h"

#include "../dcb.h"
#include "../deadline.h"
#include "linetermios.h"
#include "termios2.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

struct CCommPort::SPlatform {
    int hFile;
    bool bSaved = false;
    termios tio {}; // as found at open
};

namespace {

struct SpeedName {
    uint32_t nBaud;
    speed_t nSpeed;
};

const SpeedName g_aSpeeds[] = { { 50, B50 }, { 75, B75 }, { 110, B110 }, { 134, B134 },
    { 150, B150 }, { 200, B200 }, { 300, B300 }, { 600, B600 }, { 1200, B1200 }, { 1800, B1800 },
    { 2400, B2400 }, { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 }, { 38400, B38400 },
    { 57600, B57600 }, { 115200, B115200 }, { 230400, B230400 }, { 460800, B460800 },
    { 500000, B500000 }, { 576000, B576000 }, { 921600, B921600 }, { 1000000, B1000000 },
    { 1152000, B1152000 }, { 1500000, B1500000 }, { 2000000, B2000000 }, { 2500000, B2500000 },
    { 3000000, B3000000 }, { 3500000, B3500000 }, { 4000000, B4000000 } };

bool SpeedFor(uint32_t nBaud, speed_t& nSpeed)
{
    for (const SpeedName& s : g_aSpeeds) {
        if (s.nBaud == nBaud) {
            nSpeed = s.nSpeed;
            return true;
        }
    }
    return false;
}

uint32_t BaudFor(speed_t nSpeed)
{
    for (const SpeedName& s : g_aSpeeds) {
        if (s.nSpeed == nSpeed)
            return s.nBaud;
    }
    return 0;
}

int PollOne(int hFile, short nEvents, int nTimeoutMs, short& nRevents)
{
    pollfd pfd = { hFile, nEvents, 0 };
    int nReady;
    do {
        nReady = ::poll(&pfd, 1, nTimeoutMs);
    } while (nReady < 0 && errno == EINTR);
    nRevents = nReady > 0 ? pfd.revents : 0;
    return nReady;
}

void CloseKeepingErrno(int hFile)
{
    const int nError = errno;
    ::close(hFile);
    errno = nError;
}

} // namespace

CCommPort::CCommPort(std::unique_ptr<SPlatform> pPlatform)
    : m_pPlatform(std::move(pPlatform))
{ }

std::unique_ptr<CCommPort> CCommPort::Open(const std::string& strPath)
{
    int hFile;
    do {
        hFile = ::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (hFile < 0 && errno == EINTR);
    if (hFile < 0)
        return nullptr;
    if (!::isatty(hFile)) {
        ::close(hFile);
        errno = ENOTTY;
        return nullptr;
    }
    // The lock keeps out a second opener even where TIOCEXCL does not (root).
    int nResult;
    do {
        nResult = ::flock(hFile, LOCK_EX | LOCK_NB);
    } while (nResult < 0 && errno == EINTR);
    if (nResult < 0) {
        if (errno == EWOULDBLOCK)
            errno = EBUSY;
        CloseKeepingErrno(hFile);
        return nullptr;
    }
    if (::ioctl(hFile, TIOCEXCL) < 0) {
        CloseKeepingErrno(hFile);
        return nullptr;
    }
    std::unique_ptr<SPlatform> pPlatform(new SPlatform { hFile });
    pPlatform->bSaved = ::tcgetattr(hFile, &pPlatform->tio) == 0;
    return std::unique_ptr<CCommPort>(new CCommPort(std::move(pPlatform)));
}

CCommPort::~CCommPort()
{
    // Failures are expected here once the device has gone; there is nobody left to tell.
    const int hFile = m_pPlatform->hFile;
    if (m_pPlatform->bSaved)
        ::tcsetattr(hFile, TCSANOW, &m_pPlatform->tio);
    // Exclusive mode outlives our descriptor while another one is open on the tty.
    ::ioctl(hFile, TIOCNXCL);
    ::close(hFile);
}

bool CCommPort::SetCommTimeouts(const SPortTimeouts& timeouts)
{
    if (::fcntl(m_pPlatform->hFile, F_GETFD) < 0)
        return false;
    m_timeouts = timeouts;
    return true;
}

bool CCommPort::SetCommMask(uint32_t dwMask)
{
    if (::fcntl(m_pPlatform->hFile, F_GETFD) < 0)
        return false;
    m_dwMask = dwMask;
    return true;
}

bool CCommPort::GetCommState(SLineSettings& dcb) const
{
    termios tio;
    if (::tcgetattr(m_pPlatform->hFile, &tio) < 0)
        return false;
    uint32_t nBaud = 0;
    dcb.BaudRate = GetRate(m_pPlatform->hFile, nBaud) ? nBaud : BaudFor(::cfgetospeed(&tio));
    ReadLineFlags(tio, dcb);
    int nLines = 0;
    const bool bLines = ::ioctl(m_pPlatform->hFile, TIOCMGET, &nLines) == 0;
    dcb.fRtsControl = (tio.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE
        : (bLines && (nLines & TIOCM_RTS))    ? RTS_CONTROL_ENABLE
                                              : RTS_CONTROL_DISABLE;
    dcb.fDtrControl = (bLines && (nLines & TIOCM_DTR)) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    return true;
}

bool CCommPort::SetCommState(const SLineSettings& dcb)
{
    const int hFile = m_pPlatform->hFile;
    termios tio;
    // Rate 0 would hang the line up rather than set a speed.
    if (dcb.BaudRate == 0 || ::tcgetattr(hFile, &tio) < 0 || !ApplyLineFlags(dcb, tio)) {
        errno = EINVAL;
        return false;
    }
    speed_t nSpeed = B0;
    const bool bNamed = SpeedFor(dcb.BaudRate, nSpeed);
    // A typed rate before left its input rate in CIBAUD, which would outlast a named one.
    tio.c_cflag &= ~static_cast<tcflag_t>(CIBAUD);
    if (bNamed && (::cfsetispeed(&tio, nSpeed) < 0 || ::cfsetospeed(&tio, nSpeed) < 0))
        return false;
    int nResult;
    do {
        nResult = ::tcsetattr(hFile, TCSANOW, &tio);
    } while (nResult < 0 && errno == EINTR);
    if (nResult < 0 || (!bNamed && !SetAnyRate(hFile, dcb.BaudRate)))
        return false;
    // tcsetattr succeeds when any part took, and a driver rounds a rate to what its clock can
    // make: only what it reports back tells whether the device can follow.
    uint32_t nGot = 0;
    if (!GetRate(hFile, nGot)) {
        termios tioNow;
        if (::tcgetattr(hFile, &tioNow) < 0)
            return false;
        nGot = BaudFor(::cfgetospeed(&tioNow));
    }
    if (!RateCloseEnough(dcb.BaudRate, nGot)) {
        errno = EINVAL;
        return false;
    }
    m_nBaud = nGot;
    // Pseudo-terminals have no modem lines; that is no failure of the settings.
    int nRts = TIOCM_RTS;
    if (dcb.fRtsControl != RTS_CONTROL_DISABLE)
        ::ioctl(hFile, TIOCMBIS, &nRts);
    else
        ::ioctl(hFile, TIOCMBIC, &nRts);
    int nDtr = TIOCM_DTR;
    ::ioctl(hFile, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &nDtr);
    return true;
}

bool CCommPort::SystemEscape(uint32_t dwFunc)
{
    const int hFile = m_pPlatform->hFile;
    int nLine = 0;
    switch (dwFunc) {
    case SETBREAK:
        return ::ioctl(hFile, TIOCSBRK) == 0;
    case CLRBREAK:
        return ::ioctl(hFile, TIOCCBRK) == 0;
    case SETDTR:
    case CLRDTR:
        nLine = TIOCM_DTR;
        return ::ioctl(hFile, dwFunc == SETDTR ? TIOCMBIS : TIOCMBIC, &nLine) == 0;
    case SETRTS:
    case CLRRTS:
        nLine = TIOCM_RTS;
        return ::ioctl(hFile, dwFunc == SETRTS ? TIOCMBIS : TIOCMBIC, &nLine) == 0;
    }
    errno = EINVAL;
    return false;
}

bool CCommPort::SystemModemStatus(uint32_t& dwStatus) const
{
    int nLines = 0;
    if (::ioctl(m_pPlatform->hFile, TIOCMGET, &nLines) < 0)
        return false;
    dwStatus = ((nLines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((nLines & TIOCM_DSR) ? MS_DSR_ON : 0)
        | ((nLines & TIOCM_RNG) ? MS_RING_ON : 0) | ((nLines & TIOCM_CD) ? MS_RLSD_ON : 0);
    return true;
}

void CCommPort::Purge(uint32_t dwFlags)
{
    const bool bRx = dwFlags & (PURGE_RXABORT | PURGE_RXCLEAR);
    const bool bTx = dwFlags & (PURGE_TXABORT | PURGE_TXCLEAR);
    if (bRx && bTx)
        ::tcflush(m_pPlatform->hFile, TCIOFLUSH);
    else if (bRx)
        ::tcflush(m_pPlatform->hFile, TCIFLUSH);
    else if (bTx)
        ::tcflush(m_pPlatform->hFile, TCOFLUSH);
}

WaitHandle CCommPort::EventHandle() const
{
    return (m_dwMask & EV_RXCHAR) ? m_pPlatform->hFile : g_hNoWait;
}

CCommPort::Arm CCommPort::WaitCommEvent()
{
    short nRevents = 0;
    if (PollOne(m_pPlatform->hFile, POLLIN, 0, nRevents) < 0)
        return Arm::Failed;
    if (nRevents & POLLNVAL) {
        errno = EBADF;
        return Arm::Failed;
    }
    return (nRevents & POLLIN) ? Arm::Ready : Arm::Pending;
}

uint32_t CCommPort::QueuedBytes() const
{
    int nQueued = 0;
    if (::ioctl(m_pPlatform->hFile, FIONREAD, &nQueued) == 0 && nQueued > 0)
        return static_cast<uint32_t>(nQueued);
    short nRevents = 0;
    if (PollOne(m_pPlatform->hFile, POLLIN, 0, nRevents) > 0
        && (nRevents & (POLLIN | POLLHUP | POLLERR)))
        return 1;
    return 0;
}

CCommPort::Io CCommPort::Read(unsigned char* pBuffer, uint32_t nCapacity, uint32_t& nRead)
{
    nRead = 0;
    ssize_t nGot;
    do {
        nGot = ::read(m_pPlatform->hFile, pBuffer, nCapacity);
    } while (nGot < 0 && errno == EINTR);
    if (nGot > 0) {
        nRead = static_cast<uint32_t>(nGot);
        return Io::Done;
    }
    if (nGot < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return Io::Empty;
    if (nGot == 0)
        errno = EIO; // end of file: the other end has gone
    return Io::Failed;
}

CCommPort::Write CCommPort::WriteBytes(
    const unsigned char* pBytes, uint32_t nCount, WaitHandle hAbort, uint32_t& nEarlyInput)
{
    nEarlyInput = 0;
    const CDeadline deadline(WriteTimeoutMs(m_timeouts, nCount));
    uint32_t nDone = 0;
    bool bStarted = false;
    pollfd aPfd[2]
        = { { m_pPlatform->hFile, POLLOUT, 0 }, { static_cast<int>(hAbort), POLLIN, 0 } };
    while (nDone < nCount) {
        nEarlyInput = QueuedBytes();
        const ssize_t nWritten = ::write(m_pPlatform->hFile, pBytes + nDone, nCount - nDone);
        if (nWritten > 0) {
            nDone += static_cast<uint32_t>(nWritten);
            bStarted = true;
            continue;
        }
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return bStarted ? Write::FailedLater : Write::FailedAtOnce;
        bStarted = true;
        aPfd[0].revents = aPfd[1].revents = 0;
        const int nReady = ::poll(aPfd, 2, deadline.PollTimeoutMs());
        if (nReady < 0 && errno != EINTR)
            return Write::FailedLater;
        if (aPfd[1].revents & POLLIN)
            return Write::Aborted;
        if (nReady == 0 && deadline.Expired()) {
            errno = ETIMEDOUT;
            return Write::FailedLater;
        }
    }
    // Wait for the bytes to leave where the driver can tell (a pty always says 0 queued).
    for (;;) {
        int nQueued = 0;
        if (::ioctl(m_pPlatform->hFile, TIOCOUTQ, &nQueued) < 0 || nQueued <= 0)
            return Write::Done;
        if (deadline.Expired()) {
            errno = ETIMEDOUT;
            return Write::FailedLater;
        }
        // Roughly the time the rest takes on the line (10 bits a byte), at least 1 ms.
        const uint64_t nEstimateMs = m_nBaud ? uint64_t(nQueued) * 10000 / m_nBaud + 1 : 1;
        const int nWaitMs = static_cast<int>(
            std::min<uint64_t>(nEstimateMs, static_cast<uint64_t>(deadline.PollTimeoutMs())));
        aPfd[1].revents = 0;
        if (::poll(&aPfd[1], 1, nWaitMs) > 0 && (aPfd[1].revents & POLLIN))
            return Write::Aborted;
    }
}
