#pragma once

#include "linesettings.h"

#include <termios.h>

// The flags that give dcb's framing and flow control on a raw line with its receiver on and its
// modem lines ignored; the rate is left alone. False (nothing changed) for framing no driver
// takes.
bool ApplyLineFlags(const SLineSettings& dcb, termios& tio);
// The framing and flow control that tio's flags give.
void ReadLineFlags(const termios& tio, SLineSettings& dcb);
