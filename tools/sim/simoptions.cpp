#include "simoptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* g_szDefaultIdent = "BREM-SIM DEMO DEVICE V1.0";

bool ToNumber(const char* psz, long long nMin, long long nMax, long long& n)
{
    if (!psz || !*psz)
        return false;
    char* pEnd = nullptr;
    errno = 0;
    n = std::strtoll(psz, &pEnd, 10);
    return errno == 0 && *pEnd == '\0' && n >= nMin && n <= nMax;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

const char* CSimOptions::Usage()
{
    return "usage: brem-sim [options]\n"
           "  --device TTY        use this tty instead of a new pseudo-terminal\n"
           "  --link PATH         also make a symlink PATH -> the device path\n"
           "  --out FILE          write the accepted image of the last download here\n"
           "  --ident TEXT        identification text (at most 48 bytes, zero-padded)\n"
           "  --ident-hex HEX     identification as exact bytes (at most 48, zero-padded)\n"
           "  --refuse K          answer frame K of each download with 0x15\n"
           "  --mute              never answer anything\n"
           "  --stop-after K      stop answering after K acknowledgements\n"
           "  --hangup-after K    close the line and exit after K acknowledgements\n"
           "  --delay-ms MS       wait MS before every answer\n"
           "  --noise N           send N noise bytes before the first poll answer\n"
           "  --noise-acks        the noise holds 0x05 and 0x15 bytes (never 'P')\n"
           "  --banner TEXT       send TEXT before the first poll answer (and the noise)\n"
           "  --stray-ack K       send the 0x05 for frame K of each download twice\n"
           "  --double-acks       send every 0x05 twice\n"
           "  --garbage-after K   after frame K of a download, babble on and never answer\n"
           "  --trickle MS        after the first received byte, send a NUL every MS ms\n"
           "  --echo              outside a download, echo received bytes\n"
           "  --baud RATE         pace both directions at RATE (10 bit times a byte)\n"
           "  --once              exit when the first download has ended\n"
           "  --idle-ms MS        quiet time that ends an image of full frames (1000)\n"
           "  --flood N           after the first received byte, send N bytes (paced by --baud)\n"
           "  --flood-kind K      lines (80-byte text lines, CR LF), binary (no CR/LF) or\n"
           "                      noise (never 'P', 0x05 or 0x15)\n"
           "  --stats             measure turnaround and download time\n"
           "  --exit-after S      exit after S seconds\n";
}

bool CSimOptions::Parse(int argc, char** argv, std::string& strError)
{
    m_device.m_szIdent.fill(0);
    std::memcpy(m_device.m_szIdent.data(), g_szDefaultIdent, std::strlen(g_szDefaultIdent));
    for (int i = 1; i < argc; ++i) {
        const std::string strOpt = argv[i];
        const char* pszArg = i + 1 < argc ? argv[i + 1] : nullptr;
        long long n = 0;
        auto number = [&](long long nMin, long long nMax) {
            ++i;
            if (ToNumber(pszArg, nMin, nMax, n))
                return true;
            strError = strOpt + " needs a number from " + std::to_string(nMin) + " to "
                + std::to_string(nMax);
            return false;
        };
        auto text = [&](std::string& str) {
            ++i;
            if (pszArg) {
                str = pszArg;
                return true;
            }
            strError = strOpt + " needs an argument";
            return false;
        };
        std::string str;
        if (strOpt == "--help" || strOpt == "-h") {
            m_bHelp = true;
        } else if (strOpt == "--device") {
            if (!text(m_strDevice))
                return false;
        } else if (strOpt == "--link") {
            if (!text(m_strLink))
                return false;
        } else if (strOpt == "--out") {
            if (!text(m_strOut))
                return false;
        } else if (strOpt == "--ident") {
            if (!text(str))
                return false;
            if (str.size() > CSimDevice::kIdentSize) {
                strError = "--ident takes at most 48 bytes";
                return false;
            }
            m_device.m_szIdent.fill(0);
            std::memcpy(m_device.m_szIdent.data(), str.data(), str.size());
        } else if (strOpt == "--ident-hex") {
            if (!text(str))
                return false;
            if (str.size() % 2 != 0 || str.size() > 2 * CSimDevice::kIdentSize) {
                strError = "--ident-hex takes an even count of hex digits, at most 96";
                return false;
            }
            m_device.m_szIdent.fill(0);
            for (size_t k = 0; k < str.size(); k += 2) {
                const int nHigh = HexDigit(str[k]);
                const int nLow = HexDigit(str[k + 1]);
                if (nHigh < 0 || nLow < 0) {
                    strError = "--ident-hex: not a hex digit";
                    return false;
                }
                m_device.m_szIdent[k / 2] = uint8_t(nHigh << 4 | nLow);
            }
        } else if (strOpt == "--refuse") {
            if (!number(1, 1000000000))
                return false;
            m_device.m_nRefuseFrame = int(n);
        } else if (strOpt == "--mute") {
            m_device.m_bMute = true;
        } else if (strOpt == "--stop-after") {
            if (!number(0, 1000000000))
                return false;
            m_device.m_nStopAfter = int(n);
        } else if (strOpt == "--hangup-after") {
            if (!number(0, 1000000000))
                return false;
            m_device.m_nHangupAfter = int(n);
        } else if (strOpt == "--delay-ms") {
            if (!number(0, 3600000))
                return false;
            m_nDelayMs = int(n);
        } else if (strOpt == "--noise") {
            if (!number(0, 1000000))
                return false;
            m_device.m_nNoise = int(n);
        } else if (strOpt == "--noise-acks") {
            m_device.m_bNoiseAcks = true;
        } else if (strOpt == "--banner") {
            if (!text(m_device.m_strBanner))
                return false;
        } else if (strOpt == "--stray-ack") {
            if (!number(1, 1000000000))
                return false;
            m_device.m_nStrayAck = int(n);
        } else if (strOpt == "--double-acks") {
            m_device.m_bDoubleAcks = true;
        } else if (strOpt == "--garbage-after") {
            if (!number(1, 1000000000))
                return false;
            m_device.m_nGarbageAfter = int(n);
        } else if (strOpt == "--trickle") {
            if (!number(1, 3600000))
                return false;
            m_nTrickleMs = int(n);
        } else if (strOpt == "--echo") {
            m_device.m_bEcho = true;
        } else if (strOpt == "--baud") {
            if (!number(1, 100000000))
                return false;
            m_nBaud = long(n);
        } else if (strOpt == "--once") {
            m_bOnce = true;
        } else if (strOpt == "--idle-ms") {
            if (!number(1, 3600000))
                return false;
            m_nIdleMs = int(n);
        } else if (strOpt == "--flood") {
            if (!number(0, 1LL << 40))
                return false;
            m_nFlood = n;
        } else if (strOpt == "--flood-kind") {
            if (!text(str))
                return false;
            if (str == "lines") {
                m_eFloodKind = FloodKind::Lines;
            } else if (str == "binary") {
                m_eFloodKind = FloodKind::Binary;
            } else if (str == "noise") {
                m_eFloodKind = FloodKind::Noise;
            } else {
                strError = "--flood-kind is lines, binary or noise";
                return false;
            }
        } else if (strOpt == "--stats") {
            m_bStats = true;
        } else if (strOpt == "--exit-after") {
            ++i;
            char* pEnd = nullptr;
            const double d = pszArg ? std::strtod(pszArg, &pEnd) : -1;
            if (!pszArg || *pEnd != '\0' || !(d > 0 && d < 1e7)) {
                strError = "--exit-after needs a positive number of seconds";
                return false;
            }
            m_dExitAfter = d;
        } else {
            strError = "unknown option " + strOpt;
            return false;
        }
    }
    return true;
}
