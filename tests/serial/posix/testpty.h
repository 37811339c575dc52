#pragma once

#include "../ptyline.h"
#include "posix/termios2.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

inline SLineState LineStateOf(const termios& tio)
{
    SLineState state;
    const std::pair<speed_t, unsigned> aRates[] = { { B9600, 9600 }, { B19200, 19200 },
        { B38400, 38400 }, { B57600, 57600 }, { B115200, 115200 } };
    for (const auto& [nSpeed, nBaud] : aRates)
        state.nBaud = ::cfgetospeed(&tio) == nSpeed ? nBaud : state.nBaud;
    state.bTwoStopBits = tio.c_cflag & CSTOPB;
    state.bLocal = tio.c_cflag & CLOCAL;
    state.bReceiver = tio.c_cflag & CREAD;
    state.bHardwareFlow = tio.c_cflag & CRTSCTS;
    state.bCanonical = tio.c_lflag & ICANON;
    state.bEcho = tio.c_lflag & ECHO;
    state.bSignals = tio.c_lflag & ISIG;
    state.bSoftwareFlow = tio.c_iflag & (IXON | IXOFF);
    state.nControl = tio.c_cflag;
    return state;
}

// A pseudo-terminal whose master end plays the device; the slave is the port Brem opens.
class CTestPty {
public:
    // strLink, if given, is made a link to the slave, as a ports-directory COMn entry would be.
    explicit CTestPty(const std::string& strLink = {})
    {
        char szName[128] = {};
        if (::openpty(&m_hMaster, &m_hSlave, szName, nullptr, nullptr) < 0)
            throw std::runtime_error("openpty failed");
        m_strSlave = szName;
        ::fcntl(m_hMaster, F_SETFL, ::fcntl(m_hMaster, F_GETFL) | O_NONBLOCK);
        // Raw from the start, so the settings restored at close do not echo.
        termios tio;
        ::tcgetattr(m_hSlave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_hSlave, TCSANOW, &tio);
        if (!strLink.empty()) {
            ::unlink(strLink.c_str());
            if (::symlink(szName, strLink.c_str()) != 0)
                throw std::runtime_error("symlink failed");
        }
    }
    ~CTestPty()
    {
        CloseMaster();
        ::close(m_hSlave);
    }
    int Master() const { return m_hMaster; }
    int Slave() const { return m_hSlave; }
    const std::string& SlavePath() const { return m_strSlave; }
    // The name a port opens it by.
    const std::string& PortName() const { return m_strSlave; }
    void CloseMaster()
    {
        StopFlood();
        if (m_hMaster >= 0)
            ::close(m_hMaster);
        m_hMaster = -1;
    }
    bool Send(const Bytes& bytes)
    {
        return ::write(m_hMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads from the master until nCount bytes came or nMs passed; nMs 0 takes what is there.
    Bytes Receive(size_t nCount, int nMs = 5000)
    {
        Bytes bytes;
        const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        for (pollfd pfd = { m_hMaster, POLLIN, 0 }; bytes.size() < nCount;) {
            const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                tpEnd - std::chrono::steady_clock::now());
            if (::poll(&pfd, 1, static_cast<int>(std::max<long long>(nLeft.count(), 0))) <= 0)
                break;
            unsigned char a[4096];
            const ssize_t n = ::read(m_hMaster, a, std::min(sizeof a, nCount - bytes.size()));
            if (n > 0)
                bytes.insert(bytes.end(), a, a + n);
            else if (errno != EAGAIN)
                break;
        }
        return bytes;
    }
    // The device sends FloodPattern(0), FloodPattern(1), ... as fast as the port takes them,
    // until nBytes have gone or StopFlood().
    void Flood(uint64_t nBytes = UINT64_MAX)
    {
        StopFlood();
        m_bStopFlood = false;
        m_flood = std::thread([this, nBytes] { RunFlood(nBytes); });
    }
    void StopFlood()
    {
        m_bStopFlood = true;
        if (m_flood.joinable())
            m_flood.join();
    }
    // Bytes waiting at the port's end, unread.
    int Queued() const
    {
        int n = -1;
        ::ioctl(m_hSlave, FIONREAD, &n);
        return n;
    }
    bool WaitQueued(int nMs) const
    {
        pollfd pfd = { m_hSlave, POLLIN, 0 };
        return ::poll(&pfd, 1, nMs) == 1;
    }
    // As another program holding the port would.
    bool Hold(bool bHold) { return ::flock(m_hSlave, bHold ? LOCK_EX | LOCK_NB : LOCK_UN) == 0; }
    SLineState LineState() const
    {
        termios tio {};
        ::tcgetattr(m_hSlave, &tio);
        SLineState state = LineStateOf(tio);
        uint32_t nBaud = 0;
        if (GetRate(m_hSlave, nBaud))
            state.nBaud = nBaud; // any rate, typed ones too
        return state;
    }

private:
    void RunFlood(uint64_t nBytes)
    {
        unsigned char a[1024];
        for (uint64_t nSent = 0; !m_bStopFlood && nSent < nBytes;) {
            const size_t nCount = static_cast<size_t>(std::min<uint64_t>(sizeof a, nBytes - nSent));
            for (size_t i = 0; i < nCount; ++i)
                a[i] = FloodPattern(nSent + i);
            pollfd pfd = { m_hMaster, POLLOUT, 0 };
            ::poll(&pfd, 1, 10);
            const ssize_t n = ::write(m_hMaster, a, nCount);
            if (n > 0)
                nSent += static_cast<uint64_t>(n);
        }
    }

    int m_hMaster = -1;
    int m_hSlave = -1;
    std::string m_strSlave;
    std::atomic<bool> m_bStopFlood { true };
    std::thread m_flood;
};

// What the system says where the tests look at its words and codes.
namespace testsystem {
constexpr int g_nHeld = EBUSY;
constexpr int g_nNotThere = ENOENT;
const char* const g_szNotThere = "No such file or directory";
const char* const g_szInvalid = "Invalid argument";
// A port name that leads nowhere, and a rate the line refuses: a pty takes any other.
const char* const g_szAbsentPort = "/dev/brem-no-such-port";
constexpr unsigned g_nRefusedBaud = 0;
constexpr bool g_bRefusesRate = true;
constexpr bool g_bTakesTypedRates = true;
// Open and close cycles in the test for leaks.
constexpr int g_nCycles = 1000;

const char* const g_szGone = "Input/output error";
// Only received bytes can be waited for: a port not reading learns of a hang-up from a write.
constexpr bool g_bWaitsForLines = false;
inline const char* GoneOperation(bool bReads)
{
    return bReads ? "ReadFile()" : "WriteFile()";
}

inline size_t CountEntries(const char* szDir)
{
    size_t n = 0;
    if (DIR* pDir = ::opendir(szDir)) {
        while (::readdir(pDir))
            ++n;
        ::closedir(pDir);
    }
    return n;
}
inline size_t OpenHandles()
{
    return CountEntries("/proc/self/fd");
}
inline size_t Threads()
{
    return CountEntries("/proc/self/task");
}
} // namespace testsystem
