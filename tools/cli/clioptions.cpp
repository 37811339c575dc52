#include "clioptions.h"

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

} // namespace

std::string CCliOptions::Usage()
{
    return "usage: brem-cli [--port COMn|NAME|/dev/PATH] [--baud RATE] [--timeout SECONDS] IMAGE\n"
           "       brem-cli --list-ports\n"
           "       brem-cli --help\n"
           "\n"
           "Downloads IMAGE to the device on the serial port, as the window's DOWN does.\n"
           "  --port      COM1 to COM20, a device name (ttyUSB0, a serial/by-id name) or a\n"
           "              device path (default COM1); --list-ports shows what is there\n"
           "  --baud      line speed (default 115200)\n"
           "  --timeout   give up when the device takes no step for this long: answering the\n"
           "              poll, completing its identification, acknowledging a frame (default 60)\n"
           "\n"
           "Exit status: 0 every frame acknowledged, 1 frame refused, 2 usage error, 3 port\n"
           "cannot be opened, configured or failed, 4 image missing, empty, too large or changed\n"
           "during the download, 5 device silent, 6 the log could not be written to stdout,\n"
           "128+N ended by signal N (130 Ctrl+C, 141 stdout closed).\n";
}

bool CCliOptions::Parse(const std::vector<std::string>& args)
{
    bool bImage = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        std::string strValue;
        bool bHasValue = false;
        std::string strName = strArg;
        size_t nEq = strArg.find('=');
        if (strArg.rfind("--", 0) == 0 && nEq != std::string::npos) {
            strName = strArg.substr(0, nEq);
            strValue = strArg.substr(nEq + 1);
            bHasValue = true;
        }
        auto takeValue = [&]() {
            if (bHasValue)
                return true;
            if (i + 1 >= args.size()) {
                m_strError = "option " + strName + " needs a value";
                return false;
            }
            strValue = args[++i];
            return true;
        };

        if (strName == "--help" || strName == "-h") {
            m_nAction = ACTION_HELP;
        } else if (strName == "--list-ports") {
            m_nAction = ACTION_LIST_PORTS;
        } else if (strName == "--port") {
            if (!takeValue())
                return false;
            unsigned long n = 0;
            if (strValue.rfind("COM", 0) == 0 && ParseUnsigned(strValue.substr(3), 20, n)
                && n >= 1) {
                m_nPortNr = static_cast<unsigned>(n);
            } else if (strValue.rfind("/", 0) == 0
                || (strValue.rfind("COM", 0) != 0 && IsDeviceName(strValue))) {
                m_nPortNr = 0;
            } else {
                m_strError = "--port takes COM1 to COM20, a device name or a device path, not '"
                    + strValue + "'";
                return false;
            }
            m_strPort = strValue;
        } else if (strName == "--baud") {
            if (!takeValue())
                return false;
            unsigned long n = 0;
            if (!ParseUnsigned(strValue, 4000000, n) || n == 0) {
                m_strError = "--baud takes a rate from 1 to 4000000, not '" + strValue + "'";
                return false;
            }
            m_nBaud = static_cast<unsigned>(n);
        } else if (strName == "--timeout") {
            if (!takeValue())
                return false;
            char* pEnd = nullptr;
            errno = 0;
            double d = std::strtod(strValue.c_str(), &pEnd);
            // Bounded so the deadline arithmetic on the steady clock cannot overflow.
            if (strValue.empty() || *pEnd != '\0' || errno != 0 || !std::isfinite(d) || d <= 0
                || d > 86400.0 * 365) {
                m_strError = "--timeout takes a number of seconds above 0, not '" + strValue + "'";
                return false;
            }
            m_dTimeoutSec = d;
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
    if (m_nAction == ACTION_DOWNLOAD && !bImage) {
        m_strError = "no image given";
        return false;
    }
    return true;
}
