#include "../cliplatform.h"

#include "../clistatus.h"
#include "../eventloop.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

static_assert(g_nPipeSignal == SIGPIPE, "a closed stdout ends the run as SIGPIPE would");

namespace {

// Wakes the signal thread at shutdown; never delivered to the process otherwise.
constexpr int g_nWakeSignal = SIGUSR2;
std::atomic<bool> g_bSignalThreadStop { false };

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGQUIT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, g_nWakeSignal);
    return set;
}

} // namespace

void CEventLoop::CatchSignals(std::function<void(int)> fnSignal)
{
    if (m_bSignalsCaught)
        return;
    sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A closed reader then shows as EPIPE from the write, which the caller can act on.
    signal(SIGPIPE, SIG_IGN);
    g_bSignalThreadStop = false;
    m_bSignalsCaught = true;
    m_signalThread = std::thread([this, set, fnSignal]() {
        for (;;) {
            int nSignal = 0;
            if (sigwait(&set, &nSignal) != 0)
                continue;
            if (g_bSignalThreadStop)
                return;
            if (nSignal == g_nWakeSignal)
                continue;
            Post([fnSignal, nSignal]() { fnSignal(nSignal); });
        }
    });
}

void CEventLoop::StopSignalThread()
{
    if (!m_bSignalsCaught)
        return;
    g_bSignalThreadStop = true;
    pthread_kill(m_signalThread.native_handle(), g_nWakeSignal);
    m_signalThread.join();
    m_bSignalsCaught = false;
}

std::string SignalName(int nSignal)
{
    return ::strsignal(nSignal);
}

const unsigned g_nLastComPort = 20;

bool IsDevicePath(const std::string& strValue)
{
    return strValue.rfind('/', 0) == 0;
}

const char* const g_szPortHelp
    = "COM1 to COM20, a device name (ttyUSB0, a serial/by-id name) or a device path "
      "(default COM1); `--list-ports` shows what is there. Given more than once, or as "
      "`all` (every serial device present), it flashes the devices at once from one "
      "reading of IMAGE";

const char* const g_szPortMore
    = "COMn is the device that the link COMn in the ports folder leads to; without a "
      "link it is the built-in UART /dev/ttyS(n-1), so COM1 is /dev/ttyS0. Any other name is "
      "the entry of that name in the ports folder, else "
      "the device in /dev, else the adapter of that name in /dev/serial/by-id; a by-id "
      "name finds an adapter in whichever USB socket it is. `--port all` takes every "
      "device that `--list-ports` shows, a built-in UART with a chip behind it included.";

const char* const g_szAdapterHint = "an adapter shows as ttyUSB or ttyACM once plugged in";

bool IsTerminal(FILE* pStream)
{
    return isatty(fileno(pStream)) == 1;
}

bool TerminalSize(FILE* pStream, unsigned& nColumns, unsigned& nRows)
{
    winsize size {};
    if (ioctl(fileno(pStream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return false;
    nColumns = size.ws_col;
    nRows = size.ws_row;
    return true;
}

FILE* OpenToAppend(const std::string& strPath, std::string& strWhy)
{
    FILE* pFile = fopen(strPath.c_str(), "a");
    if (!pFile)
        strWhy = strerror(errno);
    return pFile;
}

bool SyncToDisk(FILE* pStream)
{
    return fflush(pStream) == 0 && fsync(fileno(pStream)) == 0;
}

std::string UtcText(std::chrono::system_clock::time_point tp)
{
    const auto nMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count();
    const time_t nSec = static_cast<time_t>(nMs / 1000);
    tm utc {};
    gmtime_r(&nSec, &utc);
    char sz[64];
    snprintf(sz, sizeof sz, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
        utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
        static_cast<int>(nMs % 1000));
    return sz;
}
