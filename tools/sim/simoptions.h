#pragma once

#include "simdevice.h"

#include <string>
#include <vector>

struct SOptionDoc;

// The command line of brem-sim.
class CSimOptions {
public:
    enum class FloodKind { Lines, Binary, Noise, Random };

    // Returns false with a reason in strError when the command line is wrong; --help sets
    // m_bHelp and succeeds.
    bool Parse(int argc, char** argv, std::string& strError);
    // The --help text.
    static std::string Usage();
    // What each option takes and does, in the order --help lists them.
    static std::vector<SOptionDoc> OptionDocs();

    CSimDevice::Options m_device;
    std::string m_strDevice; // a tty to use instead of a new pseudo-terminal
    std::string m_strLink;
    std::string m_strOut;
    std::string m_strSaveRead; // every byte read from the host, in order
    std::string m_strSaveWritten; // every byte written to the host, in order
    int m_nDelayMs = 0;
    long m_nBaud = 0; // 0: no pacing
    bool m_bOnce = false;
    int m_nIdleMs = 1000;
    long long m_nFlood = 0;
    FloodKind m_eFloodKind = FloodKind::Lines;
    int m_nTrickleMs = 0; // 0: no trickle
    bool m_bStats = false;
    double m_dExitAfter = 0; // seconds; 0: never
    // What the host must have set on the line when its bytes come; 0 or -1: anything.
    long m_nExpectBaud = 0;
    int m_nExpectStopBits = 0;
    int m_nExpectFlow = -1; // 0 none, 1 RTS/CTS, 2 XON/XOFF
    bool m_bHelp = false;
};
