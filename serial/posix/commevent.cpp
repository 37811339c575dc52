#include "../commevent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

CCommEvent::CCommEvent()
    : m_hEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{ }

CCommEvent::~CCommEvent()
{
    if (m_hEvent >= 0)
        ::close(static_cast<int>(m_hEvent));
}

void CCommEvent::Set()
{
    if (m_hEvent < 0)
        return;
    const uint64_t nOne = 1;
    // EAGAIN means the counter is full, which is still "set".
    while (::write(static_cast<int>(m_hEvent), &nOne, sizeof nOne) < 0 && errno == EINTR) { }
}

void CCommEvent::Reset()
{
    if (m_hEvent < 0)
        return;
    uint64_t nCount = 0;
    while (::read(static_cast<int>(m_hEvent), &nCount, sizeof nCount) < 0 && errno == EINTR) { }
}

bool CCommEvent::IsSet() const
{
    if (m_hEvent < 0)
        return false;
    pollfd pfd = { static_cast<int>(m_hEvent), POLLIN, 0 };
    int nReady;
    do {
        nReady = ::poll(&pfd, 1, 0);
    } while (nReady < 0 && errno == EINTR);
    return nReady > 0 && (pfd.revents & POLLIN);
}

int CCommEvent::WaitAny(const WaitHandle* pHandles, int nCount, int64_t nTimeoutUs)
{
    constexpr int nMax = 8;
    if (nCount <= 0 || nCount > nMax)
        return -1;
    pollfd aPfd[nMax];
    for (int i = 0; i < nCount; ++i)
        aPfd[i] = pollfd { static_cast<int>(pHandles[i]), POLLIN, 0 };
    timespec ts {};
    if (nTimeoutUs >= 0) {
        ts.tv_sec = static_cast<time_t>(nTimeoutUs / 1000000);
        ts.tv_nsec = static_cast<long>(nTimeoutUs % 1000000) * 1000;
    }
    int nReady;
    do {
        // An interrupted wait starts its time-out again: a bounded delay, never a lost event.
        nReady
            = ::ppoll(aPfd, static_cast<nfds_t>(nCount), nTimeoutUs >= 0 ? &ts : nullptr, nullptr);
    } while (nReady < 0 && errno == EINTR);
    if (nReady <= 0)
        return -1;
    for (int i = 0; i < nCount; ++i) {
        if (aPfd[i].fd >= 0 && (aPfd[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
            return i;
    }
    return -1;
}
