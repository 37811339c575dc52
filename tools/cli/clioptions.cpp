#include "clioptions.h"

#include "climanual.h"
#include "cliplatform.h"
#include "manual.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

constexpr unsigned long g_nMaxBaud = 12000000;

bool ParseUnsigned(const std::string& str, unsigned long nMax, unsigned long& nValue)
{
    if (str.empty() || str.size() > 10 || str.find_first_not_of("0123456789") != std::string::npos)
        return false;
    nValue = std::strtoul(str.c_str(), nullptr, 10);
    return nValue <= nMax;
}

// A device's own name ("ttyUSB0") or its stable one from serial/by-id.
bool IsDeviceName(const std::string& str)
{
    return !str.empty() && str != "." && str != ".." && str.size() <= 255
        && str.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._:+-")
        == std::string::npos;
}

bool ApplyPort(CCliOptions& o, const std::string& strValue)
{
    if (strValue == "all") {
        o.m_bAllPorts = true;
        return true;
    }
    unsigned long n = 0;
    unsigned nPortNr = 0;
    if (strValue.rfind("COM", 0) == 0 && ParseUnsigned(strValue.substr(3), g_nLastComPort, n)
        && n >= 1) {
        nPortNr = static_cast<unsigned>(n);
    } else if (!IsDevicePath(strValue)
        && (strValue.rfind("COM", 0) == 0 || !IsDeviceName(strValue))) {
        o.m_strError = "--port takes COM1 to COM" + std::to_string(g_nLastComPort)
            + ", a device name, a device path or all, not '" + strValue + "'";
        return false;
    }
    for (const CCliOptions::SPort& port : o.m_ports) {
        if (port.strName == strValue) {
            o.m_strError = "port " + strValue + " is given twice";
            return false;
        }
    }
    o.m_ports.push_back({ strValue, nPortNr });
    o.m_strPort = strValue;
    o.m_nPortNr = nPortNr;
    return true;
}

bool ApplyBaud(CCliOptions& o, const std::string& strValue)
{
    unsigned long n = 0;
    if (!ParseUnsigned(strValue, g_nMaxBaud, n) || n == 0) {
        o.m_strError = "--baud takes a rate from 1 to " + std::to_string(g_nMaxBaud) + ", not '"
            + strValue + "'";
        return false;
    }
    o.m_nBaud = static_cast<unsigned>(n);
    return true;
}

// The value's index among the words (each also by its first letter when bLetters), or -1.
int WordIndex(const std::string& strValue, std::initializer_list<const char*> words, bool bLetters)
{
    int i = 0;
    for (const char* szWord : words) {
        if (strValue == szWord || (bLetters && strValue.size() == 1 && strValue[0] == szWord[0]))
            return i;
        ++i;
    }
    return -1;
}

bool ApplyDataBits(CCliOptions& o, const std::string& strValue)
{
    const int i = WordIndex(strValue, { "5", "6", "7", "8" }, false);
    if (i < 0) {
        o.m_strError = "--data-bits takes 5, 6, 7 or 8, not '" + strValue + "'";
        return false;
    }
    o.m_nDataBits = static_cast<unsigned>(5 + i);
    return true;
}

bool ApplyParity(CCliOptions& o, const std::string& strValue)
{
    const int i = WordIndex(strValue, { "none", "odd", "even", "mark", "space" }, true);
    if (i < 0) {
        o.m_strError = "--parity takes none, odd, even, mark or space, not '" + strValue + "'";
        return false;
    }
    o.m_cParity = "NOEMS"[i];
    return true;
}

bool ApplyStopBits(CCliOptions& o, const std::string& strValue)
{
    const int i = WordIndex(strValue, { "1", "2" }, false);
    if (i < 0) {
        o.m_strError = "--stop-bits takes 1 or 2, not '" + strValue + "'";
        return false;
    }
    o.m_nStopBits = static_cast<unsigned>(1 + i);
    return true;
}

bool ApplyFlow(CCliOptions& o, const std::string& strValue)
{
    const int i = WordIndex(strValue, { "none", "rtscts", "xonxoff" }, false);
    if (i < 0) {
        o.m_strError = "--flow takes none, rtscts or xonxoff, not '" + strValue + "'";
        return false;
    }
    o.m_lineControl.eFlow = static_cast<SLineControl::Flow>(i);
    return true;
}

bool ApplyLevel(
    const char* szOption, const std::string& strValue, int& nLevel, std::string& strError)
{
    const int i = WordIndex(strValue, { "off", "on" }, false);
    if (i < 0) {
        strError = std::string(szOption) + " takes on or off, not '" + strValue + "'";
        return false;
    }
    nLevel = i;
    return true;
}

bool ApplyResetPulse(CCliOptions& o, const std::string& strValue)
{
    std::string strWhy;
    if (!ParseLinePulse(strValue, o.m_resetPulse, strWhy)) {
        o.m_strError = "--reset-pulse: " + strWhy;
        return false;
    }
    return true;
}

bool ApplyTimeout(CCliOptions& o, const std::string& strValue)
{
    char* pEnd = nullptr;
    errno = 0;
    double d = std::strtod(strValue.c_str(), &pEnd);
    // Bounded so the deadline arithmetic on the steady clock cannot overflow.
    if (strValue.empty() || *pEnd != '\0' || errno != 0 || !std::isfinite(d) || d <= 0
        || d > 86400.0 * 365) {
        o.m_strError = "--timeout takes a number of seconds above 0, not '" + strValue + "'";
        return false;
    }
    o.m_dTimeoutSec = d;
    return true;
}

bool ApplyReport(CCliOptions& o, const std::string& strValue)
{
    if (strValue.empty()) {
        o.m_strError = "--report takes a file name";
        return false;
    }
    o.m_strReport = strValue;
    return true;
}

// One row per option, read by the parser, --help, the manual page and the shell completion: a
// new option is a new row and, for a value, a function that checks it.
struct SOption {
    SOptionDoc doc;
    bool (*pfnApply)(CCliOptions& o, const std::string& strValue);
};

const SOption g_options[] = {
    { { "--port", nullptr, "PORT", g_szPortHelp, g_szPortMore, COMPLETE_PORTS }, ApplyPort },
    { { "--baud", nullptr, "RATE", "line speed in baud, 1 to 12000000 (default 115200)",
          "Any rate the adapter's driver can make within 2%, e.g. 74880 or 250000; another is "
          "refused before the download starts.",
          "9600 19200 38400 57600 115200 230400 460800 921600 1000000 1500000 2000000 3000000" },
        ApplyBaud },
    { { "--data-bits", nullptr, "N", "data bits, 5 to 8 (default 8)", nullptr, "5 6 7 8" },
        ApplyDataBits },
    { { "--parity", nullptr, "PARITY", "none, odd, even, mark or space (default none)", nullptr,
          "none odd even mark space" },
        ApplyParity },
    { { "--stop-bits", nullptr, "N", "stop bits, 1 or 2 (default 1)", nullptr, "1 2" },
        ApplyStopBits },
    { { "--flow", nullptr, "FLOW", "flow control: none, rtscts or xonxoff (default none)", nullptr,
          "none rtscts xonxoff" },
        ApplyFlow },
    { { "--dtr", nullptr, "LEVEL", "DTR at open, on or off (default: as the port has it)", nullptr,
          "on off" },
        [](CCliOptions& o, const std::string& strValue) {
            return ApplyLevel("--dtr", strValue, o.m_lineControl.nDtr, o.m_strError);
        } },
    { { "--rts", nullptr, "LEVEL", "RTS at open, on or off (default on)", nullptr, "on off" },
        [](CCliOptions& o, const std::string& strValue) {
            int nLevel = 1;
            const bool bOk = ApplyLevel("--rts", strValue, nLevel, o.m_strError);
            o.m_lineControl.bRts = nLevel != 0;
            return bOk;
        } },
    { { "--reset-pulse", nullptr, "STEPS",
          "once the port is open, set DTR and RTS, wait and send breaks as STEPS say, then "
          "download",
          "STEPS are separated by commas: dtr=0 or dtr=1, rts=0 or rts=1, wait=MS, "
          "break=MS; the waits and breaks add up to 10000 ms at most. An ESP32's boot loader, "
          "for one: dtr=0,rts=1,wait=100,dtr=1,rts=0,wait=50,dtr=0." },
        ApplyResetPulse },
    { { "--timeout", nullptr, "SECONDS",
          "give up when the device takes no step for this long: answering the poll, "
          "completing its identification, acknowledging a frame (default 60)",
          "The last line on standard error then names the answer missing and counts the "
          "other bytes that came." },
        ApplyTimeout },
    { { "--watch", nullptr, nullptr,
          "a flashing station: flash each serial device (of the `--port` names, or any) once "
          "each time it is plugged in, until Ctrl+C",
          "A device shows as done or failed until it is unplugged. Ctrl+C ends the downloads "
          "under way as failed and gives every port back as it was found; the exit status is "
          "0 when every device flashed holds the image." },
        [](CCliOptions& o, const std::string&) {
            o.m_bWatch = true;
            return true;
        } },
    { { "--report", nullptr, "FILE", "append one JSON line per device download to FILE",
          "Each line is written through to the disk as its device ends, so a crash loses at "
          "most the downloads under way. It holds the start and end times, the port, device, "
          "by-id path, adapter and its serial number (null where the system does not tell "
          "them), the identification as text and as hex, the image's name, size and SHA-256, "
          "the frames sent and acknowledged, the outcome in the log's words, the exit status "
          "this device alone would give with its meaning, and the reason.",
          COMPLETE_FILES },
        ApplyReport },
    { { "--list-ports", nullptr, nullptr,
          "list the serial devices present (name, path, by-id path, USB ids), then where COM1 "
          "to COM20 lead, and exit" },
        [](CCliOptions& o, const std::string&) {
            o.m_nAction = CCliOptions::ACTION_LIST_PORTS;
            return true;
        } },
    { { "--help", "-h", nullptr, "show this help and exit" },
        [](CCliOptions& o, const std::string&) {
            o.m_nAction = CCliOptions::ACTION_HELP;
            return true;
        } },
};

} // namespace

std::string CCliOptions::Usage()
{
    return HelpText(CliManual());
}

std::vector<SOptionDoc> CCliOptions::OptionDocs()
{
    return ::OptionDocs(g_options);
}

bool CCliOptions::Parse(const std::vector<std::string>& args)
{
    bool bImage = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        std::string strName = strArg;
        std::string strValue;
        bool bHasValue = false;
        const size_t nEq = strArg.find('=');
        if (strArg.rfind("--", 0) == 0 && nEq != std::string::npos) {
            strName = strArg.substr(0, nEq);
            strValue = strArg.substr(nEq + 1);
            bHasValue = true;
        }

        if (const SOption* pOption = FindOption(g_options, strName)) {
            const bool bTakesValue = pOption->doc.pszValue != nullptr;
            if (!bTakesValue && bHasValue) {
                m_strError = "option " + strName + " takes no value";
                return false;
            }
            if (bTakesValue && !bHasValue) {
                if (i + 1 >= args.size()) {
                    m_strError = "option " + strName + " needs a value";
                    return false;
                }
                strValue = args[++i];
            }
            if (!pOption->pfnApply(*this, strValue))
                return false;
        } else if (strArg.size() > 1 && strArg[0] == '-' && strArg != "--") {
            m_strError = "unknown option " + strArg;
            return false;
        } else {
            if (strArg == "--") {
                if (i + 1 >= args.size())
                    break;
                ++i;
            }
            if (bImage) {
                m_strError = "one image only ('" + args[i] + "' is a second one)";
                return false;
            }
            m_strImage = args[i];
            bImage = true;
        }
    }
    if (m_bAllPorts && !m_ports.empty()) {
        m_strError = "--port all flashes every device: name no other port beside it";
        return false;
    }
    if (m_nAction == ACTION_DOWNLOAD && !bImage) {
        m_strError = "no image given";
        return false;
    }
    return true;
}
