#include "../cliplatform.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <ctime>

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
