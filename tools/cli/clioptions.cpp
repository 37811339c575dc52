#include "clioptions.h"

#include "cliplatform.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

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
    if (!ParseUnsigned(strValue, 4000000, n) || n == 0) {
        o.m_strError = "--baud takes a rate from 1 to 4000000, not '" + strValue + "'";
        return false;
    }
    o.m_nBaud = static_cast<unsigned>(n);
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

// One row per option: a new option is a new row and, for a value, a function that checks it.
struct SOption {
    const char* pszName;
    const char* pszAlias; // a short form, or null
    bool bTakesValue;
    bool (*pfnApply)(CCliOptions& o, const std::string& strValue);
};

const SOption g_options[] = {
    { "--help", "-h", false,
        [](CCliOptions& o, const std::string&) {
            o.m_nAction = CCliOptions::ACTION_HELP;
            return true;
        } },
    { "--list-ports", nullptr, false,
        [](CCliOptions& o, const std::string&) {
            o.m_nAction = CCliOptions::ACTION_LIST_PORTS;
            return true;
        } },
    { "--port", nullptr, true, ApplyPort },
    { "--baud", nullptr, true, ApplyBaud },
    { "--timeout", nullptr, true, ApplyTimeout },
    { "--watch", nullptr, false,
        [](CCliOptions& o, const std::string&) {
            o.m_bWatch = true;
            return true;
        } },
    { "--report", nullptr, true, ApplyReport },
};

const SOption* FindOption(const std::string& strName)
{
    for (const SOption& option : g_options) {
        if (strName == option.pszName || (option.pszAlias && strName == option.pszAlias))
            return &option;
    }
    return nullptr;
}

} // namespace

std::string CCliOptions::Usage()
{
    return "usage: brem-cli [--port COMn|NAME|PATH] [--baud RATE] [--timeout SECONDS] IMAGE\n"
           "       brem-cli --port A --port B ...|--port all [--watch] [--report FILE]\n"
           "                [--baud RATE] [--timeout SECONDS] IMAGE\n"
           "       brem-cli --list-ports\n"
           "       brem-cli --help\n"
           "\n"
           "Downloads IMAGE to the device on the serial port, as the window's DOWN does.\n"
        + std::string(g_szPortHelp)
        + "              Given more than once, or as 'all' (every serial device present),\n"
          "              it flashes the devices at once from one reading of IMAGE\n"
          "  --baud      line speed (default 115200)\n"
          "  --timeout   give up when the device takes no step for this long: answering the\n"
          "              poll, completing its identification, acknowledging a frame (default 60)\n"
          "  --watch     a flashing station: flash each serial device (of the --port names,\n"
          "              or any) once each time it is plugged in, until Ctrl+C\n"
          "  --report    append one JSON line per device download to FILE\n"
          "\n"
          "Exit status: 0 every frame acknowledged, 1 frame refused, 2 usage error, 3 port\n"
          "cannot be opened, configured or failed, 4 image missing, empty, too large or\n"
          "changed during the download, 5 device silent, 6 the log (or the report) could\n"
          "not be written, 128+N ended by signal N (130 Ctrl+C, 141 stdout closed). With\n"
          "several devices: 0 when every device holds the image, else the highest status\n"
          "of any device.\n";
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

        if (const SOption* pOption = FindOption(strName)) {
            if (!pOption->bTakesValue && bHasValue) {
                m_strError = "option " + strName + " takes no value";
                return false;
            }
            if (pOption->bTakesValue && !bHasValue) {
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
