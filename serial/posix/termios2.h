#pragma once

#include <cstdint>

// Any rate, through the kernel's termios2 (BOTHER). Kept apart: its header and <termios.h>
// define the same structures.

// Sets both directions to nBaud, all else as the port has it now.
bool SetAnyRate(int hFile, uint32_t nBaud);
// The output rate the driver says the port runs at.
bool GetRate(int hFile, uint32_t& nBaud);
