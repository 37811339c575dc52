#include "simrunner.h"

#include "posix/termios2.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr size_t g_nInCap = 64 * 1024; // host bytes read but not yet taken in
constexpr size_t g_nOutCap = 64 * 1024; // answers not yet written: stop reading beyond this
constexpr size_t g_nMaxSamples = 1 << 20;
constexpr int64_t g_nNever = INT64_MAX;

int64_t Now()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

speed_t SpeedOf(long nBaud)
{
    switch (nBaud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

bool MakeRaw(int h, long nBaud)
{
    termios tio {};
    if (tcgetattr(h, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedOf(nBaud);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    return tcsetattr(h, TCSANOW, &tio) == 0;
}

uint8_t FloodByte(CSimOptions::FloodKind eKind, long long nPos)
{
    if (eKind == CSimOptions::FloodKind::Noise)
        return CSimDevice::NoiseByte(nPos, false);
    if (eKind == CSimOptions::FloodKind::Random) {
        // A hash of the position (splitmix64's finaliser): no stretch comes round again.
        uint64_t n = uint64_t(nPos) + 0x9E3779B97F4A7C15u;
        n = (n ^ (n >> 30)) * 0xBF58476D1CE4E5B9u;
        n = (n ^ (n >> 27)) * 0x94D049BB133111EBu;
        uint8_t by = uint8_t(n ^ (n >> 31));
        while (by == 'P' || by == 0x05 || by == 0x15)
            ++by;
        return by;
    }
    if (eKind == CSimOptions::FloodKind::Binary) {
        // Every byte value but LF and CR, so no line ever ends.
        uint8_t by = uint8_t(nPos % 254);
        if (by >= 0x0A)
            ++by;
        if (by >= 0x0D)
            ++by;
        return by;
    }
    const long long nCol = nPos % 80;
    if (nCol == 78)
        return '\r';
    if (nCol == 79)
        return '\n';
    return uint8_t(0x20 + (nPos / 80 + nCol) % 95);
}

long long Percentile(const std::vector<int64_t>& sorted, double dFraction)
{
    if (sorted.empty())
        return 0;
    size_t nRank = size_t(dFraction * double(sorted.size()) + 0.999999);
    nRank = std::clamp<size_t>(nRank, 1, sorted.size());
    return sorted[nRank - 1] / 1000;
}

} // namespace

CSimRunner::CSimRunner(const CSimOptions& options)
    : m_options(options)
    , m_device(options.m_device)
{
    if (m_options.m_nBaud > 0)
        m_nByteNs = int64_t(10) * 1000000000 / m_options.m_nBaud;
    m_nFloodLeft = m_options.m_nFlood;
    m_device.SetImageSink([this](uint64_t nOffset, const uint8_t* p, size_t nCount) {
        if (m_hOut < 0)
            return;
        if (nCount == 0) {
            if (ftruncate(m_hOut, 0) != 0)
                std::perror("brem-sim: --out");
            return;
        }
        while (nCount > 0) {
            const ssize_t n = pwrite(m_hOut, p, nCount, off_t(nOffset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                std::perror("brem-sim: --out");
                return;
            }
            p += n;
            nCount -= size_t(n);
            nOffset += uint64_t(n);
        }
    });
}

CSimRunner::~CSimRunner()
{
    CloseLine();
    if (m_hOut >= 0)
        close(m_hOut);
    for (std::FILE* pFile : { m_pSaveRead, m_pSaveWritten })
        if (pFile)
            std::fclose(pFile);
    if (m_hSignals >= 0)
        close(m_hSignals);
}

bool CSimRunner::OpenLine()
{
    if (!m_options.m_strDevice.empty()) {
        m_hMaster = open(m_options.m_strDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_hMaster < 0 || !MakeRaw(m_hMaster, m_options.m_nBaud)) {
            std::fprintf(
                stderr, "brem-sim: %s: %s\n", m_options.m_strDevice.c_str(), std::strerror(errno));
            return false;
        }
        m_strPath = m_options.m_strDevice;
        return true;
    }
    if (openpty(&m_hMaster, &m_hSlave, nullptr, nullptr, nullptr) != 0) {
        std::perror("brem-sim: openpty");
        return false;
    }
    fcntl(m_hMaster, F_SETFD, FD_CLOEXEC);
    fcntl(m_hSlave, F_SETFD, FD_CLOEXEC);
    fcntl(m_hMaster, F_SETFL, fcntl(m_hMaster, F_GETFL) | O_NONBLOCK);
    // Raw on the slave side, or the tty itself would echo and translate what the host sends.
    const char* pszName = ttyname(m_hSlave);
    if (!pszName || !MakeRaw(m_hSlave, m_options.m_nBaud)) {
        std::perror("brem-sim: pseudo-terminal");
        return false;
    }
    m_strPath = pszName;
    return true;
}

bool CSimRunner::Open()
{
    // Before the link exists: a signal from now on still lets the run remove it.
    if (!CatchSignals() || !OpenLine())
        return false;
    if (!m_options.m_strLink.empty()) {
        // Whatever is there belongs to someone else, even a link another simulator left.
        if (symlink(m_strPath.c_str(), m_options.m_strLink.c_str()) != 0) {
            std::fprintf(stderr, "brem-sim: --link %s: %s%s\n", m_options.m_strLink.c_str(),
                std::strerror(errno), errno == EEXIST ? " (not replaced)" : "");
            return false;
        }
        m_bLinked = true;
    }
    if (!m_options.m_strOut.empty()) {
        m_hOut = open(m_options.m_strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_hOut < 0) {
            std::fprintf(stderr, "brem-sim: --out %s: %s\n", m_options.m_strOut.c_str(),
                std::strerror(errno));
            return false;
        }
    }
    for (auto [pstrPath, ppFile] : { std::pair { &m_options.m_strSaveRead, &m_pSaveRead },
             std::pair { &m_options.m_strSaveWritten, &m_pSaveWritten } }) {
        if (pstrPath->empty())
            continue;
        *ppFile = std::fopen(pstrPath->c_str(), "wbe");
        if (!*ppFile) {
            std::fprintf(stderr, "brem-sim: %s: %s\n", pstrPath->c_str(), std::strerror(errno));
            return false;
        }
    }
    std::printf("%s\n", m_strPath.c_str());
    std::fflush(stdout);
    return true;
}

void CSimRunner::CloseLine()
{
    if (m_bLinked) {
        // Only our own link: someone may have pointed it elsewhere meanwhile.
        char szTarget[4096];
        const ssize_t n = readlink(m_options.m_strLink.c_str(), szTarget, sizeof(szTarget) - 1);
        if (n > 0 && std::string(szTarget, size_t(n)) == m_strPath)
            unlink(m_options.m_strLink.c_str());
        m_bLinked = false;
    }
    if (m_hMaster >= 0)
        close(m_hMaster);
    if (m_hSlave >= 0)
        close(m_hSlave);
    m_hMaster = m_hSlave = -1;
}

void CSimRunner::ReadLine(int64_t tNow)
{
    while (m_nInBytes < g_nInCap) {
        Chunk chunk;
        chunk.m_data.resize(std::min<size_t>(16384, g_nInCap - m_nInBytes));
        const ssize_t n = read(m_hMaster, chunk.m_data.data(), chunk.m_data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // EIO or end of file: nobody holds the other side of a given tty. Keep going.
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                m_bLineDown = true;
            return;
        }
        m_bLineDown = false;
        // A device at other settings hears only noise.
        if (!LineAsExpected())
            continue;
        chunk.m_data.resize(size_t(n));
        if (m_pSaveRead)
            std::fwrite(chunk.m_data.data(), 1, size_t(n), m_pSaveRead);
        chunk.m_tRead = tNow;
        m_nInBytes += size_t(n);
        m_tLastActivity = tNow;
        m_in.push_back(std::move(chunk));
        if (!m_bFloodArmed && m_nFloodLeft > 0) {
            m_bFloodArmed = true;
            m_tFloodFirst = m_tFloodArmed = tNow;
        }
        if (m_tNextTrickle == g_nNever && m_options.m_nTrickleMs > 0)
            m_tNextTrickle = tNow + int64_t(m_options.m_nTrickleMs) * 1000000;
    }
}

bool CSimRunner::LineAsExpected()
{
    if (m_hSlave < 0
        || (!m_options.m_nExpectBaud && !m_options.m_nExpectStopBits
            && m_options.m_nExpectFlow < 0))
        return true;
    termios tio {};
    uint32_t nBaud = 0;
    if (tcgetattr(m_hSlave, &tio) != 0 || !GetRate(m_hSlave, nBaud))
        return false;
    const int nStop = (tio.c_cflag & CSTOPB) ? 2 : 1;
    const int nFlow = (tio.c_cflag & CRTSCTS) ? 1 : (tio.c_iflag & (IXON | IXOFF)) ? 2 : 0;
    static const char* const aFlows[] = { "none", "rtscts", "xonxoff" };
    const auto Describe = [](long nRate, int nStopBits, int nFlowKind) {
        return std::to_string(nRate) + " baud, " + std::to_string(nStopBits) + " stop bits, flow "
            + aFlows[nFlowKind];
    };
    if ((m_options.m_nExpectBaud && nBaud != uint32_t(m_options.m_nExpectBaud))
        || (m_options.m_nExpectStopBits && nStop != m_options.m_nExpectStopBits)
        || (m_options.m_nExpectFlow >= 0 && nFlow != m_options.m_nExpectFlow)) {
        if (!m_bLineWrong)
            std::fprintf(stderr, "brem-sim: the host set the line to %s, not %s\n",
                Describe(long(nBaud), nStop, nFlow).c_str(),
                Describe(m_options.m_nExpectBaud ? m_options.m_nExpectBaud : long(nBaud),
                    m_options.m_nExpectStopBits ? m_options.m_nExpectStopBits : nStop,
                    m_options.m_nExpectFlow >= 0 ? m_options.m_nExpectFlow : nFlow)
                    .c_str());
        m_bLineWrong = true;
        return false;
    }
    return true;
}

int64_t CSimRunner::DueOfByte(size_t nAhead) const
{
    // Bytes of one read arrive back to back, each one byte time after the one before.
    int64_t tPrev = m_tInPrev;
    for (const Chunk& chunk : m_in) {
        const size_t nLeft = chunk.m_data.size() - chunk.m_nPos;
        const int64_t tFirst = std::max(chunk.m_tRead, tPrev) + m_nByteNs;
        if (nAhead <= nLeft)
            return tFirst + int64_t(nAhead - 1) * m_nByteNs;
        nAhead -= nLeft;
        tPrev = tFirst + int64_t(nLeft - 1) * m_nByteNs;
    }
    return tPrev;
}

void CSimRunner::FeedDue(int64_t tNow)
{
    const int64_t nDelay = int64_t(m_options.m_nDelayMs) * 1000000;
    int64_t tRelease = tNow + nDelay;
    while (!m_in.empty() && m_out.size() < g_nOutCap && !m_device.WantsHangup()) {
        Chunk& chunk = m_in.front();
        if (m_nByteNs > 0) {
            // A byte is whole one byte time after it started, and starts after the previous one.
            const int64_t tDue = std::max(chunk.m_tRead, m_tInPrev) + m_nByteNs;
            if (tDue > tNow)
                return;
            m_tInPrev = tDue;
            // Answer when the wire brought the byte, not when this loop got round to it.
            tRelease = tDue + nDelay;
        }
        const uint8_t by = chunk.m_data[chunk.m_nPos++];
        if (m_bAckPending) {
            m_bAckPending = false;
            if (by == 0x02 && chunk.m_tRead >= m_tAck && m_turnarounds.size() < g_nMaxSamples)
                m_turnarounds.push_back(chunk.m_tRead - m_tAck);
        }
        m_answer.clear();
        const CSimDevice::Answer eKind = m_device.Take(by, m_answer);
        for (size_t i = 0; i < m_answer.size(); ++i) {
            // The poll answer's 'P' follows any noise: tag the byte the timing is about.
            CSimDevice::Answer eTag = CSimDevice::Answer::None;
            if (eKind == CSimDevice::Answer::Poll)
                eTag = i + 1 + CSimDevice::kIdentSize == m_answer.size() ? eKind
                                                                         : CSimDevice::Answer::None;
            else if (i == 0)
                eTag = eKind;
            m_out.push_back(OutByte { m_answer[i], eTag, tRelease });
        }
        m_tLastActivity = tNow;
        if (chunk.m_nPos == chunk.m_data.size()) {
            m_nInBytes -= chunk.m_data.size();
            m_in.pop_front();
        }
        if (m_device.Babbles() && !m_bFloodArmed) {
            // It never answers again: nothing it was given matters any more.
            m_options.m_eFloodKind = CSimOptions::FloodKind::Noise;
            m_nFloodLeft = INT64_MAX;
            m_bFloodArmed = true;
            m_tFloodFirst = tNow;
        }
    }
}

void CSimRunner::Trickle(int64_t tNow)
{
    if (m_tNextTrickle == g_nNever || tNow < m_tNextTrickle)
        return;
    m_out.push_back(OutByte { 0, CSimDevice::Answer::None, tNow });
    m_tNextTrickle = tNow + int64_t(m_options.m_nTrickleMs) * 1000000;
}

void CSimRunner::Written(const OutByte& out, int64_t tNow)
{
    m_tLastActivity = tNow;
    switch (out.m_eKind) {
    case CSimDevice::Answer::Poll:
        m_tPollAnswer = tNow;
        m_bAckPending = false;
        break;
    case CSimDevice::Answer::Ack:
    case CSimDevice::Answer::AckLast:
        m_nDownloadNs = tNow - m_tPollAnswer;
        m_bAckPending = out.m_eKind == CSimDevice::Answer::Ack;
        m_tAck = tNow;
        break;
    default:
        break;
    }
}

void CSimRunner::WriteFlood(int64_t tNow)
{
    uint8_t abBuf[4096];
    while (m_nFloodLeft > 0) {
        size_t nCount = size_t(std::min<long long>(sizeof(abBuf), m_nFloodLeft));
        if (m_nByteNs > 0) {
            // Paced: byte k is due k + 1 byte times after the flood was armed.
            const long long nDue = (tNow - m_tFloodArmed) / m_nByteNs - m_nFloodSent;
            if (nDue <= 0)
                return;
            nCount = size_t(std::min<long long>(static_cast<long long>(nCount), nDue));
        }
        for (size_t i = 0; i < nCount; ++i)
            abBuf[i] = FloodByte(m_options.m_eFloodKind, m_nFloodSent + (long long)i);
        const ssize_t n = write(m_hMaster, abBuf, nCount);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_bWantWrite = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            m_bLineDown = !m_bWantWrite;
            return;
        }
        if (m_pSaveWritten)
            std::fwrite(abBuf, 1, size_t(n), m_pSaveWritten);
        if (m_nFloodSent == 0)
            m_tFloodFirst = tNow;
        m_nFloodSent += n;
        m_nFloodLeft -= n;
        m_tFloodLast = Now();
    }
}

void CSimRunner::WriteDue(int64_t tNow)
{
    if (m_bFloodArmed && m_nFloodLeft > 0) {
        WriteFlood(tNow);
        if (m_nFloodLeft > 0)
            return;
    }
    uint8_t abBuf[4096];
    while (!m_out.empty()) {
        size_t nCount = 0;
        int64_t tPrev = m_tOutPrev;
        while (nCount < m_out.size() && nCount < sizeof(abBuf)) {
            const OutByte& out = m_out[nCount];
            int64_t tDue = out.m_tRelease;
            if (m_nByteNs > 0)
                tDue = std::max(tDue, tPrev) + m_nByteNs;
            if (tDue > tNow)
                break;
            tPrev = tDue;
            abBuf[nCount++] = out.m_by;
        }
        if (nCount == 0)
            return;
        const ssize_t n = write(m_hMaster, abBuf, nCount);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_bWantWrite = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            m_bLineDown = !m_bWantWrite;
            return;
        }
        if (m_pSaveWritten)
            std::fwrite(abBuf, 1, size_t(n), m_pSaveWritten);
        const int64_t tWritten = Now();
        for (ssize_t i = 0; i < n; ++i) {
            if (m_nByteNs > 0)
                m_tOutPrev = std::max(m_out.front().m_tRelease, m_tOutPrev) + m_nByteNs;
            Written(m_out.front(), tWritten);
            m_out.pop_front();
        }
    }
}

int64_t CSimRunner::NextWake(int64_t tNow) const
{
    int64_t tWake = g_nNever;
    if (!m_in.empty() && m_out.size() < g_nOutCap && m_nByteNs > 0)
        tWake = std::min(tWake, DueOfByte(std::min(m_device.BytesBeforeAnswer(), m_nInBytes)));
    if (!m_out.empty() && !m_bWantWrite && !m_bLineDown && !(m_bFloodArmed && m_nFloodLeft > 0)) {
        int64_t tDue = m_out.front().m_tRelease;
        if (m_nByteNs > 0)
            tDue = std::max(tDue, m_tOutPrev) + m_nByteNs;
        tWake = std::min(tWake, tDue);
    }
    if (m_bFloodArmed && m_nFloodLeft > 0 && m_nByteNs > 0 && !m_bWantWrite && !m_bLineDown)
        tWake = std::min(tWake, m_tFloodArmed + int64_t(m_nFloodSent + 1) * m_nByteNs);
    if (m_device.WaitsForQuiet() && m_in.empty() && m_out.empty())
        tWake = std::min(tWake, m_tLastActivity + int64_t(m_options.m_nIdleMs) * 1000000);
    if (m_bLineDown)
        tWake = std::min(tWake, tNow + 20000000);
    return std::min(tWake, m_tNextTrickle);
}

void CSimRunner::Drain()
{
    // Let the host read the last answers: closing the master throws away what it has not read.
    const int64_t tGiveUp = Now() + 2000000000;
    int nQuietChecks = 0;
    while (Now() < tGiveUp && !SignalCame()) {
        const int64_t tNow = Now();
        WriteDue(tNow);
        if (m_bLineDown)
            return;
        int nPending = 0;
        if (m_hSlave >= 0 && ioctl(m_hSlave, FIONREAD, &nPending) != 0)
            nPending = 0;
        if (m_hSlave < 0 && m_out.empty()) {
            tcdrain(m_hMaster);
            return;
        }
        // The count lags behind a fresh write, by more than a few ms on a loaded machine: trust
        // a zero only when it lasts and the last write is a while back.
        nQuietChecks = (m_out.empty() && nPending == 0) ? nQuietChecks + 1 : 0;
        if (nQuietChecks >= 3 && tNow - m_tLastActivity >= 100000000)
            return;
        poll(nullptr, 0, 2);
    }
}

bool CSimRunner::CatchSignals()
{
    // Read from a descriptor, not caught by a handler: a sanitizer runtime that holds a
    // handler back can then lose no ending signal.
    sigset_t set;
    sigemptyset(&set);
    // Each of these ends the run the same way: the link removed, the summary printed.
    for (int nSignal : { SIGHUP, SIGINT, SIGQUIT, SIGTERM })
        sigaddset(&set, nSignal);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0
        || (m_hSignals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC)) < 0) {
        std::perror("brem-sim: signals");
        return false;
    }
    struct sigaction sa { };
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGPIPE, &sa, nullptr);
    return true;
}

bool CSimRunner::SignalCame()
{
    signalfd_siginfo info {};
    if (!m_bSignalled && read(m_hSignals, &info, sizeof info) == ssize_t(sizeof info))
        m_bSignalled = true;
    return m_bSignalled;
}

void CSimRunner::Run()
{
    const int64_t tStart = Now();
    m_tLastActivity = tStart;
    const int64_t tExit
        = m_options.m_dExitAfter > 0 ? tStart + int64_t(m_options.m_dExitAfter * 1e9) : g_nNever;
    const char* pszExit = "signal";
    for (;;) {
        int64_t tNow = Now();
        FeedDue(tNow);
        if (m_device.WaitsForQuiet() && m_in.empty() && m_out.empty()
            && tNow - m_tLastActivity >= int64_t(m_options.m_nIdleMs) * 1000000) {
            m_device.OnQuiet();
            m_bAckPending = false;
        }
        Trickle(tNow);
        WriteDue(tNow);
        if (m_device.WantsHangup() && m_out.empty()) {
            Drain();
            pszExit = "hangup";
            break;
        }
        if (m_options.m_bOnce && m_device.Downloads() > 0
            && m_device.LastOutcome() != CSimDevice::Outcome::Running && m_in.empty()) {
            Drain();
            pszExit = "once";
            break;
        }
        if (SignalCame())
            break;
        if (tNow >= tExit) {
            pszExit = "timeout";
            break;
        }

        pollfd afd[2] = {};
        afd[0].fd = m_hSignals;
        afd[0].events = POLLIN;
        // A dead line reports a hang-up on every poll: look at it again on a timer instead.
        afd[1].fd = m_bLineDown ? -1 : m_hMaster;
        if (m_nInBytes < g_nInCap)
            afd[1].events |= POLLIN;
        if (m_bWantWrite)
            afd[1].events |= POLLOUT;
        const int64_t tWake = std::min(NextWake(tNow), tExit);
        timespec ts {};
        const timespec* pts = nullptr;
        if (tWake != g_nNever) {
            const int64_t nWait = std::max<int64_t>(0, tWake - tNow);
            ts.tv_sec = time_t(nWait / 1000000000);
            ts.tv_nsec = long(nWait % 1000000000);
            pts = &ts;
        }
        const int nReady = ppoll(afd, 2, pts, nullptr);
        if (nReady < 0 && errno != EINTR) {
            std::perror("brem-sim: poll");
            break;
        }
        tNow = Now();
        if (nReady > 0 && (afd[1].revents & POLLOUT))
            m_bWantWrite = false;
        if (m_bLineDown || (nReady > 0 && (afd[1].revents & (POLLIN | POLLHUP | POLLERR))))
            ReadLine(tNow);
    }
    CloseLine();
    PrintSummary(pszExit);
}

void CSimRunner::PrintSummary(const char* pszExit)
{
    m_device.Finish();
    // Whoever reads the summary may read these files next.
    for (std::FILE* pFile : { m_pSaveRead, m_pSaveWritten })
        if (pFile)
            std::fflush(pFile);
    std::string str = "brem-sim: downloads=" + std::to_string(m_device.Downloads())
        + " frames_accepted=" + std::to_string(m_device.FramesAccepted())
        + " frames_refused=" + std::to_string(m_device.FramesRefused())
        + " bytes=" + std::to_string(m_device.ImageBytes())
        + " image=" + CSimDevice::OutcomeName(m_device.LastOutcome());
    char szCrc[16];
    std::snprintf(szCrc, sizeof(szCrc), "%08x", unsigned(m_device.ImageCrc()));
    str += std::string(" crc32=") + szCrc;
    if (m_options.m_bStats) {
        std::vector<int64_t> sorted = m_turnarounds;
        std::sort(sorted.begin(), sorted.end());
        str += " turnaround_p50_us=" + std::to_string(Percentile(sorted, 0.50))
            + " turnaround_p99_us=" + std::to_string(Percentile(sorted, 0.99))
            + " turnaround_max_us=" + std::to_string(Percentile(sorted, 1.0))
            + " turnaround_samples=" + std::to_string(sorted.size())
            + " download_us=" + std::to_string(m_nDownloadNs < 0 ? -1 : m_nDownloadNs / 1000)
            + " wire_bytes=" + std::to_string(m_device.WireBytes());
    }
    if (m_options.m_nFlood > 0)
        str += " flood_bytes=" + std::to_string(m_nFloodSent)
            + " flood_us=" + std::to_string((m_tFloodLast - m_tFloodFirst) / 1000);
    if (m_options.m_nExpectBaud || m_options.m_nExpectStopBits || m_options.m_nExpectFlow >= 0)
        str += m_bLineWrong ? " line=wrong" : " line=ok";
    str += std::string(" exit=") + pszExit;
    std::printf("%s\n", str.c_str());
    std::fflush(stdout);
}
