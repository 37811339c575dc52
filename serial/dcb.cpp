#include "dcb.h"

#include "syserror.h"

#include <cctype>
#include <cstring>
#include <sstream>

namespace {

const uint32_t g_aStandardRates[] = { 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800,
    9600, 19200, 38400, 57600, 115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000,
    1500000, 2000000, 2500000, 3000000, 3500000, 4000000 };

bool ParseNumber(const std::string& str, uint32_t nMax, uint32_t& nValue)
{
    if (str.empty() || str.size() > 10)
        return false;
    uint64_t n = 0;
    for (char c : str) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > nMax)
        return false;
    nValue = static_cast<uint32_t>(n);
    return true;
}

bool ParseParity(const std::string& str, uint8_t& nParity)
{
    if (str.size() != 1)
        return false;
    switch (std::toupper(static_cast<unsigned char>(str[0]))) {
    case 'N':
        nParity = NOPARITY;
        return true;
    case 'O':
        nParity = ODDPARITY;
        return true;
    case 'E':
        nParity = EVENPARITY;
        return true;
    case 'M':
        nParity = MARKPARITY;
        return true;
    case 'S':
        nParity = SPACEPARITY;
        return true;
    }
    return false;
}

bool ParseStop(const std::string& str, uint8_t& nStop)
{
    if (str == "1")
        nStop = ONESTOPBIT;
    else if (str == "1.5")
        nStop = ONE5STOPBITS;
    else if (str == "2")
        nStop = TWOSTOPBITS;
    else
        return false;
    return true;
}

} // namespace

bool BuildCommDCB(const std::string& strMode, DCB& dcb)
{
    DCB next = dcb;
    std::istringstream in(strMode);
    std::string strField;
    bool bAny = false;
    bool bOk = true;
    while (bOk && in >> strField) {
        const size_t nEq = strField.find('=');
        if (nEq == std::string::npos) {
            bOk = false;
            break;
        }
        const std::string strKey = strField.substr(0, nEq);
        const std::string strValue = strField.substr(nEq + 1);
        uint32_t n = 0;
        if (strKey == "baud") {
            bOk = ParseNumber(strValue, UINT32_MAX, n);
            next.BaudRate = n;
        } else if (strKey == "parity") {
            bOk = ParseParity(strValue, next.Parity);
        } else if (strKey == "data") {
            bOk = ParseNumber(strValue, 8, n) && n >= 5;
            next.ByteSize = static_cast<uint8_t>(n);
        } else if (strKey == "stop") {
            bOk = ParseStop(strValue, next.StopBits);
        } else {
            bOk = false;
        }
        bAny = true;
    }
    if (!bOk || !bAny) {
        SetLastSystemError(g_nInvalidArgument);
        return false;
    }
    dcb = next;
    return true;
}

bool IsStandardBaudRate(uint32_t nBaud)
{
    for (uint32_t n : g_aStandardRates) {
        if (n == nBaud)
            return true;
    }
    return false;
}

bool RateCloseEnough(uint32_t nAsked, uint32_t nGot)
{
    if (nAsked == 0 || nGot == 0)
        return false;
    const uint64_t nDiff = nAsked > nGot ? nAsked - nGot : nGot - nAsked;
    return nDiff * 100 <= static_cast<uint64_t>(nAsked) * 2;
}

uint64_t WriteTimeoutMs(const SPortTimeouts& timeouts, uint32_t nCount)
{
    return static_cast<uint64_t>(timeouts.WriteTotalTimeoutMultiplier) * nCount
        + timeouts.WriteTotalTimeoutConstant;
}
