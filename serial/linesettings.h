#pragma once

#include <cstdint>

// Line settings and time-outs of a port, in the shape the port object keeps them. Their tags
// are our own so that the Windows layer can see them beside the system's structures; the rest
// of the code knows them as DCB and COMMTIMEOUTS (dcb.h).

struct SLineSettings {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0; // NOPARITY
    uint8_t StopBits = 0; // ONESTOPBIT
    uint8_t fRtsControl = 0; // RTS_CONTROL_DISABLE; RTS_CONTROL_HANDSHAKE is RTS/CTS flow
    uint8_t fDtrControl = 1; // DTR_CONTROL_ENABLE
    uint8_t fOutxCtsFlow = 0; // output waits for CTS
    uint8_t fOutX = 0; // output obeys XOFF/XON from the device
    uint8_t fInX = 0; // XOFF/XON sent to the device as our input fills and drains
};

// Milliseconds; the write limit for n bytes is n * multiplier + constant.
struct SPortTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Write limit in ms for nCount bytes; 64-bit so that large counts cannot wrap.
uint64_t WriteTimeoutMs(const SPortTimeouts& timeouts, uint32_t nCount);

// Whether the rate a driver reports after being asked for nAsked is one the device at the other
// end can still follow (a UART tolerates about 2% between the two ends).
bool RateCloseEnough(uint32_t nAsked, uint32_t nGot);
