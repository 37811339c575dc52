#include "../cliplatform.h"

#include "../clistatus.h"
#include "../eventloop.h"

#include "syserror.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_mx;
std::condition_variable g_cvEnded;
CEventLoop* g_pLoop = nullptr; // guarded by g_mx
std::function<void(int)> g_fnSignal;
bool g_bEnded = false;

HANDLE StreamHandle(FILE* pStream)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(pStream)));
}

// Runs on a thread of the system's own. Ctrl+C and Ctrl+Break act as SIGINT does on POSIX, a
// closing console, log-off and shut-down as SIGTERM.
BOOL WINAPI OnConsoleEvent(DWORD nEvent)
{
    const int nSignal = nEvent == CTRL_C_EVENT || nEvent == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    std::unique_lock<std::mutex> lock(g_mx);
    if (!g_pLoop)
        return FALSE;
    std::function<void(int)> fnSignal = g_fnSignal;
    g_pLoop->Post([fnSignal, nSignal]() { fnSignal(nSignal); });
    // The system ends the process once this returns (and after 5 s at the latest): the run
    // closes the port first.
    if (nSignal == SIGTERM)
        g_cvEnded.wait_for(lock, std::chrono::seconds(4), [] { return g_bEnded; });
    return TRUE;
}

} // namespace

void CEventLoop::CatchSignals(std::function<void(int)> fnSignal)
{
    if (m_bSignalsCaught)
        return;
    {
        std::lock_guard<std::mutex> lock(g_mx);
        g_pLoop = this;
        g_fnSignal = std::move(fnSignal);
        g_bEnded = false;
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    m_bSignalsCaught = true;
}

void CEventLoop::StopSignalThread()
{
    if (!m_bSignalsCaught)
        return;
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    {
        std::lock_guard<std::mutex> lock(g_mx);
        g_pLoop = nullptr;
        g_fnSignal = nullptr;
        g_bEnded = true;
    }
    g_cvEnded.notify_all();
    m_bSignalsCaught = false;
}

std::string SignalName(int nSignal)
{
    switch (nSignal) {
    case SIGINT:
        return "Ctrl+C";
    case g_nPipeSignal:
        return "Broken pipe";
    default:
        return "the console closing";
    }
}

const unsigned g_nLastComPort = 256;

bool IsDevicePath(const std::string& strValue)
{
    return strValue.rfind("\\\\", 0) == 0;
}

const char* const g_szPortHelp
    = "COM1 to COM256, a device name or a device path (\\\\.\\COM3) (default COM1); "
      "`--list-ports` shows what is there. Given more than once, or as `all` (every COM port "
      "present), it flashes the devices at once from one reading of IMAGE";

// No manual pages on Windows.
const char* const g_szPortMore = nullptr;

const char* const g_szAdapterHint = "an adapter shows as a COM port once plugged in";

bool IsTerminal(FILE* pStream)
{
    const HANDLE hStream = StreamHandle(pStream);
    DWORD nMode = 0;
    if (!::GetConsoleMode(hStream, &nMode))
        return false;
    // The bar and the live lines move the cursor with escape sequences, which older consoles
    // print as they are: such a console gets plain lines.
    return (nMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
        || ::SetConsoleMode(hStream, nMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool TerminalSize(FILE* pStream, unsigned& nColumns, unsigned& nRows)
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (!::GetConsoleScreenBufferInfo(StreamHandle(pStream), &info)
        || info.srWindow.Right <= info.srWindow.Left || info.srWindow.Bottom <= info.srWindow.Top)
        return false;
    nColumns = static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
    nRows = static_cast<unsigned>(info.srWindow.Bottom - info.srWindow.Top + 1);
    return true;
}

FILE* OpenToAppend(const std::string& strPath, std::string& strWhy)
{
    // Appending only: the system then puts each write at the end as it comes, where the C
    // library's append mode seeks there first and may land on another program's line.
    const HANDLE hFile = ::CreateFileA(strPath.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        strWhy = SystemErrorText(static_cast<int>(::GetLastError()));
        return nullptr;
    }
    const int nFd = ::_open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_APPEND | _O_BINARY);
    FILE* pFile = nFd < 0 ? nullptr : ::_fdopen(nFd, "ab");
    if (!pFile) {
        strWhy = strerror(errno);
        if (nFd >= 0)
            ::_close(nFd);
        else
            ::CloseHandle(hFile);
    }
    return pFile;
}

bool SyncToDisk(FILE* pStream)
{
    return fflush(pStream) == 0 && ::FlushFileBuffers(StreamHandle(pStream));
}

std::string UtcText(std::chrono::system_clock::time_point tp)
{
    const auto nMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count();
    // File times count 100 ns from 1601.
    const uint64_t nTicks = static_cast<uint64_t>(nMs + 11644473600000LL) * 10000;
    FILETIME ft { static_cast<DWORD>(nTicks), static_cast<DWORD>(nTicks >> 32) };
    SYSTEMTIME utc {};
    if (nMs < 0 || !::FileTimeToSystemTime(&ft, &utc))
        return std::string();
    char sz[64];
    snprintf(sz, sizeof sz, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", utc.wYear, utc.wMonth, utc.wDay,
        utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return sz;
}
