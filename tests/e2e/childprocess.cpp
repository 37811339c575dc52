#include "childprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

void CloseFd(int& nFd)
{
    if (nFd >= 0)
        close(nFd);
    nFd = -1;
}

} // namespace

CChildProcess::~CChildProcess()
{
    if (m_pid > 0 && !m_bExited) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    for (int* pFd : { &m_nPidFd, &m_nOutFd, &m_nErrFd })
        CloseFd(*pFd);
}

bool CChildProcess::Start(const std::vector<std::string>& argv)
{
    int anOut[2] = { -1, -1 };
    int anErr[2] = { -1, -1 };
    std::vector<char*> args;
    for (const std::string& str : argv)
        args.push_back(const_cast<char*>(str.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int nError = pipe2(anOut, O_CLOEXEC) || pipe2(anErr, O_CLOEXEC)
        || posix_spawn_file_actions_adddup2(&actions, anOut[1], 1)
        || posix_spawn_file_actions_adddup2(&actions, anErr[1], 2)
        || posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(anOut[1]);
    CloseFd(anErr[1]);
    m_nOutFd = anOut[0];
    m_nErrFd = anErr[0];
    if (nError != 0) {
        m_pid = -1;
        return false;
    }
    m_nPidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    return m_nPidFd >= 0;
}

bool CChildProcess::PumpOnce(Clock::time_point tpDeadline)
{
    pollfd afd[3];
    int* apFd[3] = {};
    nfds_t nCount = 0;
    for (int* pFd : { &m_nOutFd, &m_nErrFd, &m_nPidFd }) {
        if (*pFd >= 0) {
            afd[nCount] = { *pFd, POLLIN, 0 };
            apFd[nCount++] = pFd;
        }
    }
    auto msLeft
        = std::chrono::duration_cast<std::chrono::milliseconds>(tpDeadline - Clock::now()).count();
    // Past the deadline, still take what is already there.
    int nReady = nCount ? poll(afd, nCount, msLeft > 0 ? static_cast<int>(msLeft) + 1 : 0) : 0;
    if (nReady <= 0)
        return nReady < 0 && errno == EINTR && Clock::now() < tpDeadline;
    for (nfds_t i = 0; i < nCount; ++i) {
        if (!afd[i].revents)
            continue;
        int nStatus = 0;
        if (apFd[i] == &m_nPidFd) {
            if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
                m_bExited = true;
                m_nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
                CloseFd(m_nPidFd);
            }
            continue;
        }
        char buf[65536];
        ssize_t n = read(*apFd[i], buf, sizeof buf);
        if (n > 0)
            (apFd[i] == &m_nOutFd ? m_strOut : m_strErr).append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            CloseFd(*apFd[i]);
    }
    return true;
}

bool CChildProcess::PumpUntil(const std::function<bool()>& fnDone, Clock::duration timeout)
{
    Clock::time_point tpDeadline = Clock::now() + timeout;
    while (!fnDone()) {
        if (!PumpOnce(tpDeadline))
            return fnDone();
    }
    return true;
}

std::string CChildProcess::FirstLine(Clock::duration timeout)
{
    PumpUntil([this]() { return m_strOut.find('\n') != std::string::npos; }, timeout);
    return m_strOut.substr(0, m_strOut.find('\n') == std::string::npos ? 0 : m_strOut.find('\n'));
}

int CChildProcess::Wait(Clock::duration timeout)
{
    if (m_pid > 0
        && PumpUntil([this]() { return m_bExited && m_nOutFd < 0 && m_nErrFd < 0; }, timeout))
        return m_nStatus;
    Signal(SIGKILL);
    PumpUntil([this]() { return m_bExited || m_pid <= 0; }, std::chrono::seconds(5));
    return -1;
}

void CChildProcess::Signal(int nSignal)
{
    if (m_pid > 0 && !m_bExited)
        kill(m_pid, nSignal);
}

void CChildProcess::CloseOut()
{
    CloseFd(m_nOutFd);
}

void CChildProcess::DropCarriageReturns()
{
    for (std::string* pStr : { &m_strOut, &m_strErr }) {
        for (size_t nAt; (nAt = pStr->find("\r\n")) != std::string::npos;)
            pStr->erase(nAt, 1);
    }
}
