#include "termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

// <sys/ioctl.h> would bring in the libc termios structures beside the kernel's.
extern "C" int ioctl(int hFile, unsigned long nRequest, ...);

namespace {

bool Call(int hFile, unsigned long nRequest, struct termios2* pTio)
{
    int nResult;
    do {
        nResult = ioctl(hFile, nRequest, pTio);
    } while (nResult < 0 && errno == EINTR);
    return nResult == 0;
}

} // namespace

bool SetAnyRate(int hFile, uint32_t nBaud)
{
    struct termios2 tio { };
    if (!Call(hFile, TCGETS2, &tio))
        return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = nBaud;
    tio.c_ospeed = nBaud;
    return Call(hFile, TCSETS2, &tio);
}

bool GetRate(int hFile, uint32_t& nBaud)
{
    struct termios2 tio { };
    if (!Call(hFile, TCGETS2, &tio))
        return false;
    nBaud = tio.c_ospeed;
    return true;
}
