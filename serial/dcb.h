#pragma once

#include "linesettings.h"

#include <cstdint>
#include <string>

// Line settings, time-outs, event and purge flags of a port, under the system's names that the
// port object uses.

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
constexpr uint8_t RTS_CONTROL_HANDSHAKE = 2;

constexpr uint8_t DTR_CONTROL_DISABLE = 0;
constexpr uint8_t DTR_CONTROL_ENABLE = 1;

// Line functions of the port's EscapeCommFunction.
constexpr uint32_t SETRTS = 3;
constexpr uint32_t CLRRTS = 4;
constexpr uint32_t SETDTR = 5;
constexpr uint32_t CLRDTR = 6;
constexpr uint32_t SETBREAK = 8;
constexpr uint32_t CLRBREAK = 9;

// Input lines, as GetCommModemStatus reports them.
constexpr uint32_t MS_CTS_ON = 0x0010;
constexpr uint32_t MS_DSR_ON = 0x0020;
constexpr uint32_t MS_RING_ON = 0x0040;
constexpr uint32_t MS_RLSD_ON = 0x0080;

// Port event bits for the event mask.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;

// Purge flags; the port object always passes all four.
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

using DCB = SLineSettings;
using COMMTIMEOUTS = SPortTimeouts;

// Applies "baud=%d parity=%c data=%d stop=%d" (any subset, any order) to dcb. A malformed or
// out-of-range field leaves dcb untouched and returns false with g_nInvalidArgument as the last
// system error. Any baud number is taken here; whether the port can run at it is for
// SetCommState to say.
bool BuildCommDCB(const std::string& strMode, DCB& dcb);

// True for the rates a POSIX serial driver takes by name (50 ... 4000000).
bool IsStandardBaudRate(uint32_t nBaud);
