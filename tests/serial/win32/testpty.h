#pragma once

#include "../ptyline.h"
#include "remotepty.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>

// A pseudo-terminal on the Linux side of Wine, mapped as one of this program's COM ports; the
// helper that holds its master end plays the device on our word.
class CTestPty {
public:
    CTestPty()
    {
        m_n = static_cast<unsigned>(std::stoul(Ask("open")));
        m_strPort = "COM" + std::to_string(m_n);
    }
    ~CTestPty()
    {
        std::string strAnswer;
        PtyHostRequest("close " + std::to_string(m_n), strAnswer);
    }
    CTestPty(const CTestPty&) = delete;
    CTestPty& operator=(const CTestPty&) = delete;

    const std::string& PortName() const { return m_strPort; }
    void CloseMaster() { Ask("hangup"); }
    bool Send(const Bytes& bytes)
    {
        std::string strAnswer;
        return PtyHostRequest(Request("send") + " " + Hex(bytes), strAnswer);
    }
    Bytes Receive(size_t nCount, int nMs = 5000)
    {
        const std::string strHex = Ask("recv", std::to_string(nCount) + " " + std::to_string(nMs));
        Bytes bytes;
        for (size_t i = 0; i + 1 < strHex.size(); i += 2)
            bytes.push_back(
                static_cast<unsigned char>(std::stoul(strHex.substr(i, 2), nullptr, 16)));
        return bytes;
    }
    void Flood(uint64_t nBytes = UINT64_MAX) { Ask("flood", std::to_string(nBytes)); }
    void StopFlood() { Ask("stopflood"); }
    int Queued() const { return std::stoi(Ask("queued")); }
    bool WaitQueued(int nMs) const { return Ask("waitqueued", std::to_string(nMs)) == "1"; }
    bool Hold(bool bHold) { return Ask("hold", bHold ? "1" : "0") == "1"; }
    SLineState LineState() const
    {
        std::istringstream in(Ask("line"));
        SLineState state;
        std::string strFlags;
        in >> state.nBaud >> strFlags >> state.nControl;
        // Only what a DCB holds is restored at close (Linux's CBAUD, CSIZE, CSTOPB, PARENB,
        // PARODD, CRTSCTS); Wine sets CLOCAL and the rest as it sees fit.
        state.nControl &= 0x100fUL | 0x30 | 0x40 | 0x100 | 0x200 | 0x80000000UL;
        bool* apFlags[]
            = { &state.bTwoStopBits, &state.bLocal, &state.bReceiver, &state.bHardwareFlow,
                  &state.bCanonical, &state.bEcho, &state.bSignals, &state.bSoftwareFlow };
        for (size_t i = 0; i < strFlags.size() && i < 8; ++i)
            *apFlags[i] = strFlags[i] == '1';
        return state;
    }

private:
    std::string Request(const char* szVerb) const
    {
        return std::string(szVerb) + " " + std::to_string(m_n);
    }
    std::string Ask(const char* szVerb, const std::string& strArgs = {}) const
    {
        std::string strAnswer;
        const std::string strRequest
            = m_n ? Request(szVerb) + (strArgs.empty() ? "" : " " + strArgs) : szVerb;
        if (!PtyHostRequest(strRequest, strAnswer))
            throw std::runtime_error(strRequest + ": " + strAnswer);
        return strAnswer;
    }
    static std::string Hex(const Bytes& bytes)
    {
        std::string str;
        char sz[3];
        for (unsigned char c : bytes) {
            std::snprintf(sz, sizeof sz, "%02x", c);
            str += sz;
        }
        return str;
    }

    unsigned m_n = 0;
    std::string m_strPort;
};

// What the system says where the tests look at its words and codes: Win32 codes, and Wine's
// texts for them (Windows words them otherwise).
namespace testsystem {
constexpr int g_nHeld = 5; // ERROR_ACCESS_DENIED
constexpr int g_nNotThere = 2; // ERROR_FILE_NOT_FOUND
const char* const g_szNotThere = "File not found.";
const char* const g_szInvalid = "Invalid parameter.";
// A port name that leads nowhere, and a rate the line refuses: Wine makes a rate with no name
// through a UART's custom divisor, which a pty has not.
const char* const g_szAbsentPort = "COM99";
constexpr unsigned g_nRefusedBaud = 250000;
constexpr bool g_bRefusesRate = true;
constexpr bool g_bTakesTypedRates = false;
// Open and close cycles in the test for leaks; each is a few round trips to the wineserver.
constexpr int g_nCycles = 200;

// A hung-up pty fails every call with ERROR_NOT_READY. Its lines drop (ptyuart), which the
// wait for EV_CTS sees: a port that does not read finds it gone arming its next wait.
const char* const g_szGone = "Not ready.";
constexpr bool g_bWaitsForLines = true;
inline const char* GoneOperation(bool bReads)
{
    return bReads ? "ReadFile()" : "WaitCommEvent()";
}
inline size_t OpenHandles()
{
    return ProcessHandles();
}
inline size_t Threads()
{
    return ProcessThreads();
}
} // namespace testsystem
