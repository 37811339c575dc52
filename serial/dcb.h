#pragma once

#include <cstdint>
#include <string>

// Line settings and time-outs of a port, in the shape the port object keeps them.

constexpr uint8_t NOPARITY = 0;
constexpr uint8_t ODDPARITY = 1;
constexpr uint8_t EVENPARITY = 2;
constexpr uint8_t MARKPARITY = 3;
constexpr uint8_t SPACEPARITY = 4;

constexpr uint8_t ONESTOPBIT = 0;
constexpr uint8_t ONE5STOPBITS = 1;
constexpr uint8_t TWOSTOPBITS = 2;

constexpr uint8_t RTS_CONTROL_DISABLE = 0;
constexpr uint8_t RTS_CONTROL_ENABLE = 1;

// Purge flags; the port object always passes all four.
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

struct DCB {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = NOPARITY;
    uint8_t StopBits = ONESTOPBIT;
    uint8_t fRtsControl = RTS_CONTROL_DISABLE;
};

// Milliseconds; the write limit for n bytes is n * multiplier + constant.
struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Applies "baud=%d parity=%c data=%d stop=%d" (any subset, any order) to dcb. A malformed or
// out-of-range field leaves dcb untouched and returns false with errno EINVAL. Any baud number
// is taken here; whether the port can run at it is for SetCommState to say.
bool BuildCommDCB(const std::string& strMode, DCB& dcb);

// True for the rates a POSIX serial driver takes by name (50 ... 4000000).
bool IsStandardBaudRate(uint32_t nBaud);

// Write limit in ms for nCount bytes; 64-bit so that large counts cannot wrap.
uint64_t WriteTimeoutMs(const COMMTIMEOUTS& timeouts, uint32_t nCount);
