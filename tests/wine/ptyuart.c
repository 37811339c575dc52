/* Loaded into Wine (LD_PRELOAD), so that a pseudo-terminal passes for a serial port:
 * - the modem-line ioctls a pty refuses are answered as a UART would: DTR and RTS as last set;
 *   CTS, DSR and CD on while the other end is open, off once it has hung up (Wine then reports
 *   EV_CTS, as a pulled cable would, where a pty raises no event at all);
 * - a pty slave opened for writing is taken unshared (an exclusive lock): Wine does not keep a
 *   second program out of a COM port, Windows does (ERROR_ACCESS_DENIED);
 * - nothing is opened as a controlling terminal: the wineserver would take SIGHUP with it.
 * Only pty slaves (character majors 136 to 143) are touched; everything else passes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdarg.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

static int g_nLines = TIOCM_DTR | TIOCM_RTS;

static int IsPtySlave(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int HungUp(int fd)
{
    struct pollfd pfd = { fd, 0, 0 };
    return poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLHUP);
}

int ioctl(int fd, unsigned long nRequest, ...)
{
    static int (*pfnIoctl)(int, unsigned long, ...);
    if (!pfnIoctl)
        pfnIoctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, nRequest);
    void* pArg = va_arg(args, void*);
    va_end(args);
    const int bLines = nRequest == TIOCMGET || nRequest == TIOCMSET || nRequest == TIOCMBIS
        || nRequest == TIOCMBIC || nRequest == TIOCGICOUNT;
    if (!bLines || !IsPtySlave(fd))
        return pfnIoctl(fd, nRequest, pArg);
    int* pBits = pArg;
    switch (nRequest) {
    case TIOCMGET:
        *pBits = g_nLines | (HungUp(fd) ? 0 : TIOCM_CTS | TIOCM_DSR | TIOCM_CD);
        break;
    case TIOCMSET:
        g_nLines = *pBits & (TIOCM_DTR | TIOCM_RTS);
        break;
    case TIOCMBIS:
        g_nLines |= *pBits & (TIOCM_DTR | TIOCM_RTS);
        break;
    case TIOCMBIC:
        g_nLines &= ~*pBits;
        break;
    default: /* TIOCGICOUNT: no line events were counted */
        memset(pArg, 0, sizeof(struct serial_icounter_struct));
        break;
    }
    return 0;
}

static int Unshared(int fd, int nFlags)
{
    if (fd < 0 || (nFlags & O_ACCMODE) == O_RDONLY || !IsPtySlave(fd))
        return fd;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    close(fd);
    errno = EACCES;
    return -1;
}

static mode_t ModeOf(int nFlags, va_list args)
{
    return (nFlags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

#define OPEN(name)                                                                                 \
    int name(const char* szPath, int nFlags, ...)                                                  \
    {                                                                                              \
        static int (*pfnOpen)(const char*, int, ...);                                              \
        if (!pfnOpen)                                                                              \
            pfnOpen = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, #name);                     \
        va_list args;                                                                              \
        va_start(args, nFlags);                                                                    \
        const mode_t nMode = ModeOf(nFlags, args);                                                 \
        va_end(args);                                                                              \
        return Unshared(pfnOpen(szPath, nFlags | O_NOCTTY, nMode), nFlags);                        \
    }
#define OPENAT(name)                                                                               \
    int name(int nDir, const char* szPath, int nFlags, ...)                                        \
    {                                                                                              \
        static int (*pfnOpen)(int, const char*, int, ...);                                         \
        if (!pfnOpen)                                                                              \
            pfnOpen = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, #name);                \
        va_list args;                                                                              \
        va_start(args, nFlags);                                                                    \
        const mode_t nMode = ModeOf(nFlags, args);                                                 \
        va_end(args);                                                                              \
        return Unshared(pfnOpen(nDir, szPath, nFlags | O_NOCTTY, nMode), nFlags);                  \
    }
OPEN(open)
OPEN(open64)
OPENAT(openat)
OPENAT(openat64)
