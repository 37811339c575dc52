#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CSerialPort;

// A sequence of DTR/RTS levels, waits and breaks, the way boards are reset or put into their boot
// loader: "dtr=0,rts=1,wait=100,dtr=1,rts=0,wait=50,dtr=0". Levels are 0/1 (or off/on), waits
// and breaks are in milliseconds.
struct SPulseStep {
    enum Kind { DTR, RTS, WAIT, BREAK };
    Kind eKind;
    unsigned nValue; // the level, or the milliseconds
};

// The longest a whole sequence may take: the download waits behind it.
constexpr unsigned g_nPulseMaxMs = 10000;
constexpr size_t g_nPulseMaxSteps = 64;

// False, with the reason in strError, for a step that is not one of the above or a sequence
// that is empty, too long or takes over g_nPulseMaxMs.
bool ParseLinePulse(
    const std::string& strSteps, std::vector<SPulseStep>& steps, std::string& strError);

// Plays the steps on the open port. False at the first line call that fails, with the reason as
// the last system error and the step's text in strFailed; a break begun is always ended.
bool RunLinePulse(CSerialPort& port, const std::vector<SPulseStep>& steps, std::string& strFailed);
