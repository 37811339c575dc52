#pragma once

#include "dcb.h"

#include <memory>
#include <string>

// One open serial device, with the calls the port object makes on it. Every failing call sets
// errno for the error box. Calls on one object may come from two threads only under the port lock.
class CCommPort {
public:
    // Opens the device read/write, non-blocking, never as controlling terminal, and unshared
    // (exclusive mode plus an advisory lock). Null with errno set when it cannot be opened or is
    // no terminal.
    static std::unique_ptr<CCommPort> Open(const std::string& strPath);
    // Restores the settings found at open, gives up exclusivity and closes.
    ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // The descriptor that becomes readable when bytes arrive (or the device goes away).
    int Fd() const { return m_hFile; }

    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts);
    bool SetCommMask(uint32_t dwMask);
    bool GetCommMask(uint32_t& dwMask) const;
    bool GetCommState(DCB& dcb) const;
    // Raw mode, receiver on, modem lines ignored, no flow control; RTS raised when asked.
    // EINVAL when the rate or framing is one the driver cannot take.
    bool SetCommState(const DCB& dcb);
    // PURGE_RX* drop unread input, PURGE_TX* unsent output.
    void Purge(uint32_t dwFlags);

    enum class Arm { Ready, Pending, Failed };
    // Ready when bytes are there now, Pending when the caller must wait on Fd().
    Arm WaitCommEvent();
    // Bytes waiting to be read; at least 1 whenever a read would not block (the count the driver
    // reports can lag behind poll, and a hung-up device must be read to learn of it).
    uint32_t QueuedBytes() const;

    enum class Io { Done, Empty, Failed };
    // Reads what is there, up to nCapacity bytes, without waiting. Empty when nothing was there
    // after all; Failed (errno set) on error or end of file.
    Io Read(unsigned char* pBuffer, uint32_t nCapacity, uint32_t& nRead);

    enum class Write { Done, FailedAtOnce, FailedLater, Aborted };
    // Writes all bytes and waits until they have left the driver, within the write time-out.
    // Aborted, with bytes possibly unsent, as soon as nAbortFd becomes readable. nEarlyInput is
    // what was waiting to be read just before the last bytes went to the driver: none of it can
    // be a reply to them.
    Write WriteBytes(
        const unsigned char* pBytes, uint32_t nCount, int nAbortFd, uint32_t& nEarlyInput);

private:
    explicit CCommPort(int hFile);

    int m_hFile;
    uint32_t m_dwMask = 0;
    uint32_t m_nBaud = 0;
    COMMTIMEOUTS m_timeouts;
    struct Saved;
    std::unique_ptr<Saved> m_pSaved; // Pimpl keeps termios out of the header
};

// The system's text for an errno value, never empty.
std::string SystemErrorText(int nError);
