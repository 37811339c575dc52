#pragma once

#include "commevent.h"
#include "linesettings.h"
#include "syserror.h"

#include <memory>
#include <string>

// One open serial device, with the calls the port object makes on it. Every failing call leaves
// its reason as the last system error, for the error box. Calls on one object may come from two
// threads only under the port lock.
class CCommPort {
public:
    // Opens the device read/write and unshared; on POSIX also non-blocking, never as controlling
    // terminal, in exclusive mode plus an advisory lock. Null, with the reason as the last system
    // error, when it cannot be opened or is no serial device.
    static std::unique_ptr<CCommPort> Open(const std::string& strPath);
    // Restores the settings found at open, gives up exclusivity and closes.
    ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    bool SetCommTimeouts(const SPortTimeouts& timeouts);
    bool SetCommMask(uint32_t dwMask);
    // The mask as set: no system call for what only SetCommMask changes.
    bool GetCommMask(uint32_t& dwMask) const
    {
        dwMask = m_dwMask;
        return true;
    }
    bool GetCommState(SLineSettings& dcb) const;
    // Raw mode, receiver on, modem lines ignored; the framing, flow control, RTS and DTR asked
    // for. g_nInvalidArgument when the framing is one the driver cannot take, or the rate one it
    // refuses or cannot come within 2% of.
    bool SetCommState(const SLineSettings& dcb);
    // SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK or CLRBREAK.
    bool EscapeCommFunction(uint32_t dwFunc);
    // The input lines that are on: MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON.
    bool GetCommModemStatus(uint32_t& dwStatus) const;

    // Where line functions and the lines' status go instead of the system: modem lines and
    // breaks do not exist on a pseudo-terminal, so tests watch them here. Null restores the
    // system. Set it while no port is in use.
    struct SLineHooks {
        bool (*pfnEscape)(uint32_t dwFunc);
        bool (*pfnModemStatus)(uint32_t& dwStatus);
    };
    static void SetLineHooks(const SLineHooks* pHooks);
    // PURGE_RX* drop unread input, PURGE_TX* unsent output.
    void Purge(uint32_t dwFlags);

    // The signal of the port's events: set when bytes arrive (or the device goes away), and on
    // Windows when another event of the mask comes. g_hNoWait when the mask holds nothing the
    // port can wait for (on POSIX only received bytes can be waited for).
    WaitHandle EventHandle() const;

    enum class Arm { Ready, Pending, Failed };
    // Arms the wait for the next port event. Ready when bytes are there now, Pending when the
    // caller must wait on EventHandle() (good until the next call). Called before every such
    // wait: on Windows the signal stays set until the wait is armed anew.
    Arm WaitCommEvent();
    // Bytes waiting to be read; at least 1 whenever a read would not block or the port cannot
    // tell (a hung-up or vanished device must be read to learn of it).
    uint32_t QueuedBytes() const;

    enum class Io { Done, Empty, Failed };
    // Reads what is there, up to nCapacity bytes, without waiting. Empty when nothing was there
    // after all; Failed on error or end of file.
    Io Read(unsigned char* pBuffer, uint32_t nCapacity, uint32_t& nRead);

    enum class Write { Done, FailedAtOnce, FailedLater, Aborted };
    // Writes all bytes and waits until they have left the driver, within the write time-out.
    // Aborted, with bytes possibly unsent, as soon as hAbort is signalled. nEarlyInput is what
    // was waiting to be read just before the last bytes went to the driver: none of it can be a
    // reply to them.
    Write WriteBytes(
        const unsigned char* pBytes, uint32_t nCount, WaitHandle hAbort, uint32_t& nEarlyInput);

private:
    struct SPlatform;
    bool SystemEscape(uint32_t dwFunc);
    bool SystemModemStatus(uint32_t& dwStatus) const;

    explicit CCommPort(std::unique_ptr<SPlatform> pPlatform);

    uint32_t m_dwMask = 0;
    uint32_t m_nBaud = 0;
    SPortTimeouts m_timeouts;
    std::unique_ptr<SPlatform> m_pPlatform; // the system's handles and what was found at open
};
