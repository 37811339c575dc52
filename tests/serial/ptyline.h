#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<unsigned char>;

// What the device end of a test line sends in a flood: never 0xFF, so a test can mark an end.
inline unsigned char FloodPattern(uint64_t i)
{
    return static_cast<unsigned char>(i % 251);
}

// The pty's settings as the port left them, in the terms the tests check.
struct SLineState {
    unsigned nBaud = 0;
    bool bTwoStopBits = false;
    bool bLocal = false; // modem lines ignored
    bool bReceiver = false;
    bool bHardwareFlow = false;
    bool bCanonical = false;
    bool bEcho = false;
    bool bSignals = false;
    bool bSoftwareFlow = false;
    unsigned long nControl = 0; // all control flags, to compare before and after
};
