#include "simoptions.h"

#include "manual.h"
#include "simmanual.h"

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

// One row per option, read by the parser, --help, the manual page and the shell completion. A
// value is a number from nMin to nMax, or text when both are 0; pfnApply gets it as text and,
// for a number, as n.
struct SOption {
    SOptionDoc doc;
    long long nMin, nMax;
    bool (*pfnApply)(CSimOptions& o, const std::string& str, long long n, std::string& strError);
};

using Text = const std::string&;
using Error = std::string&;

const SOption g_options[] = {
    { { "--device", nullptr, "TTY", "use this tty instead of a new pseudo-terminal", nullptr,
          COMPLETE_FILES },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error) {
            o.m_strDevice = str;
            return true;
        } },
    { { "--link", nullptr, "PATH", "also make a symlink PATH -> the device path",
          "PATH is refused when it exists, even as a link: the simulator replaces nothing it "
          "did not make. It removes its link when it ends, on SIGHUP, SIGINT, SIGQUIT and "
          "SIGTERM too.",
          COMPLETE_FILES },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error) {
            o.m_strLink = str;
            return true;
        } },
    { { "--out", nullptr, "FILE", "write the accepted image of the last download here", nullptr,
          COMPLETE_FILES },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error) {
            o.m_strOut = str;
            return true;
        } },
    { { "--save-read", nullptr, "FILE", "write every byte read from the host here, in order",
          "With --save-written, what a capture of the wire is checked against.", COMPLETE_FILES },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error) {
            o.m_strSaveRead = str;
            return true;
        } },
    { { "--save-written", nullptr, "FILE",
          "write every byte written to the host here, in order (answers and flood alike)", nullptr,
          COMPLETE_FILES },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error) {
            o.m_strSaveWritten = str;
            return true;
        } },
    { { "--ident", nullptr, "TEXT", "identification text (at most 48 bytes, zero-padded)" }, 0, 0,
        [](CSimOptions& o, Text str, long long, Error strError) {
            if (str.size() > CSimDevice::kIdentSize) {
                strError = "--ident takes at most 48 bytes";
                return false;
            }
            o.m_device.m_szIdent.fill(0);
            std::memcpy(o.m_device.m_szIdent.data(), str.data(), str.size());
            return true;
        } },
    { { "--ident-hex", nullptr, "HEX", "identification as exact bytes (at most 48, zero-padded)" },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error strError) {
            if (str.size() % 2 != 0 || str.size() > 2 * CSimDevice::kIdentSize) {
                strError = "--ident-hex takes an even count of hex digits, at most 96";
                return false;
            }
            o.m_device.m_szIdent.fill(0);
            for (size_t k = 0; k < str.size(); k += 2) {
                const int nHigh = HexDigit(str[k]);
                const int nLow = HexDigit(str[k + 1]);
                if (nHigh < 0 || nLow < 0) {
                    strError = "--ident-hex: not a hex digit";
                    return false;
                }
                o.m_device.m_szIdent[k / 2] = uint8_t(nHigh << 4 | nLow);
            }
            return true;
        } },
    { { "--refuse", nullptr, "K", "answer frame K of each download with 0x15",
          "K counts frames within each download." },
        1, 1000000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_device.m_nRefuseFrame = int(n);
            return true;
        } },
    { { "--mute", nullptr, nullptr, "never answer anything", "The device keeps reading." }, 0, 0,
        [](CSimOptions& o, Text, long long, Error) {
            o.m_device.m_bMute = true;
            return true;
        } },
    { { "--stop-after", nullptr, "K", "stop answering after K acknowledgements",
          "K counts acknowledgements over the whole run; the device keeps reading. With K = 0 "
          "it answers the poll but no frame." },
        0, 1000000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_device.m_nStopAfter = int(n);
            return true;
        } },
    { { "--hangup-after", nullptr, "K", "close the line and exit after K acknowledgements",
          "K counts acknowledgements over the whole run; with K = 0 the device answers the poll "
          "but dies when the first frame has arrived." },
        0, 1000000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_device.m_nHangupAfter = int(n);
            return true;
        } },
    { { "--delay-ms", nullptr, "MS", "wait MS before every answer" }, 0, 3600000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_nDelayMs = int(n);
            return true;
        } },
    { { "--noise", nullptr, "N", "send N noise bytes before the first poll answer",
          "Noise is a fixed pseudo-random sequence without P (and without 0x05 and 0x15 unless "
          "`--noise-acks`), sent once, after the `--banner` text." },
        0, 1000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_device.m_nNoise = int(n);
            return true;
        } },
    { { "--noise-acks", nullptr, nullptr, "the noise holds 0x05 and 0x15 bytes (never 'P')" }, 0, 0,
        [](CSimOptions& o, Text, long long, Error) {
            o.m_device.m_bNoiseAcks = true;
            return true;
        } },
    { { "--banner", nullptr, "TEXT", "send TEXT before the first poll answer (and the noise)" }, 0,
        0,
        [](CSimOptions& o, Text str, long long, Error) {
            o.m_device.m_strBanner = str;
            return true;
        } },
    { { "--stray-ack", nullptr, "K", "send the 0x05 for frame K of each download twice" }, 1,
        1000000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_device.m_nStrayAck = int(n);
            return true;
        } },
    { { "--double-acks", nullptr, nullptr, "send every 0x05 twice" }, 0, 0,
        [](CSimOptions& o, Text, long long, Error) {
            o.m_device.m_bDoubleAcks = true;
            return true;
        } },
    { { "--garbage-after", nullptr, "K",
          "after frame K of a download, babble on and never answer" },
        1, 1000000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_device.m_nGarbageAfter = int(n);
            return true;
        } },
    { { "--trickle", nullptr, "MS", "after the first received byte, send a NUL every MS ms",
          "The NULs go on whatever else the device does." },
        1, 3600000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_nTrickleMs = int(n);
            return true;
        } },
    { { "--echo", nullptr, nullptr, "outside a download, echo received bytes" }, 0, 0,
        [](CSimOptions& o, Text, long long, Error) {
            o.m_device.m_bEcho = true;
            return true;
        } },
    { { "--baud", nullptr, "RATE", "pace both directions at RATE (10 bit times a byte)",
          "A byte from the host is taken in one byte time after it was read and after the "
          "previous one; each of the device's bytes is written one byte time after the "
          "previous one ended (or after it was ready).",
          "9600 19200 38400 57600 115200 230400 460800 921600" },
        1, 100000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_nBaud = long(n);
            return true;
        } },
    { { "--once", nullptr, nullptr, "exit when the first download has ended",
          "Before it exits, the simulator waits (at most 2 s) until the host has read its last "
          "answers." },
        0, 0,
        [](CSimOptions& o, Text, long long, Error) {
            o.m_bOnce = true;
            return true;
        } },
    { { "--idle-ms", nullptr, "MS", "quiet time that ends an image of full frames (1000)",
          "The same quiet time in the middle of a frame abandons the download." },
        1, 3600000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_nIdleMs = int(n);
            return true;
        } },
    { { "--flood", nullptr, "N", "after the first received byte, send N bytes (paced by --baud)",
          "The flood goes as fast as the host reads it, ahead of any answer that is waiting." },
        0, 1LL << 40,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_nFlood = n;
            return true;
        } },
    { { "--flood-kind", nullptr, "KIND",
          "lines (80-byte text lines, CR LF), binary (no CR/LF), noise (never 'P', 0x05 or "
          "0x15) or random (the same three never, and no stretch repeats)",
          nullptr, "lines binary noise random" },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error strError) {
            if (str == "lines") {
                o.m_eFloodKind = CSimOptions::FloodKind::Lines;
            } else if (str == "binary") {
                o.m_eFloodKind = CSimOptions::FloodKind::Binary;
            } else if (str == "noise") {
                o.m_eFloodKind = CSimOptions::FloodKind::Noise;
            } else if (str == "random") {
                o.m_eFloodKind = CSimOptions::FloodKind::Random;
            } else {
                strError = "--flood-kind is lines, binary, noise or random";
                return false;
            }
            return true;
        } },
    { { "--stats", nullptr, nullptr, "measure turnaround and download time" }, 0, 0,
        [](CSimOptions& o, Text, long long, Error) {
            o.m_bStats = true;
            return true;
        } },
    { { "--exit-after", nullptr, "S", "exit after S seconds" }, 0, 0,
        [](CSimOptions& o, Text str, long long, Error strError) {
            char* pEnd = nullptr;
            const double d = std::strtod(str.c_str(), &pEnd);
            if (str.empty() || *pEnd != '\0' || !(d > 0 && d < 1e7)) {
                strError = "--exit-after needs a positive number of seconds";
                return false;
            }
            o.m_dExitAfter = d;
            return true;
        } },
    { { "--expect-baud", nullptr, "RATE",
          "the host must have set the line to RATE when its bytes come",
          "The settings are read from the pseudo-terminal each time bytes come. While they are "
          "not the ones expected, the device takes nothing (as a device at another rate would "
          "hear noise); it says so once on standard error, the summary shows line=wrong and "
          "brem-sim exits with 3. A pseudo-terminal keeps 8 data bits and no parity whatever it "
          "is told, so those cannot be checked." },
        1, 100000000,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_nExpectBaud = long(n);
            return true;
        } },
    { { "--expect-stop-bits", nullptr, "N", "the host must have set N stop bits (1 or 2)", nullptr,
          "1 2" },
        1, 2,
        [](CSimOptions& o, Text, long long n, Error) {
            o.m_nExpectStopBits = int(n);
            return true;
        } },
    { { "--expect-flow", nullptr, "FLOW",
          "the host must have set this flow control: none, rtscts or xonxoff", nullptr,
          "none rtscts xonxoff" },
        0, 0,
        [](CSimOptions& o, Text str, long long, Error strError) {
            const char* const aNames[] = { "none", "rtscts", "xonxoff" };
            for (int i = 0; i < 3; ++i) {
                if (str == aNames[i]) {
                    o.m_nExpectFlow = i;
                    return true;
                }
            }
            strError = "--expect-flow takes none, rtscts or xonxoff";
            return false;
        } },
    { { "--help", "-h", nullptr, "show this help and exit" }, 0, 0,
        [](CSimOptions& o, Text, long long, Error) {
            o.m_bHelp = true;
            return true;
        } },
};

} // namespace

std::string CSimOptions::Usage()
{
    return HelpText(SimManual());
}

std::vector<SOptionDoc> CSimOptions::OptionDocs()
{
    return ::OptionDocs(g_options);
}

bool CSimOptions::Parse(int argc, char** argv, std::string& strError)
{
    m_device.m_szIdent.fill(0);
    std::memcpy(m_device.m_szIdent.data(), g_szDefaultIdent, std::strlen(g_szDefaultIdent));
    for (int i = 1; i < argc; ++i) {
        const std::string strOpt = argv[i];
        const SOption* pOption = FindOption(g_options, strOpt);
        if (!pOption) {
            strError = "unknown option " + strOpt;
            return false;
        }
        std::string strValue;
        long long n = 0;
        if (pOption->doc.pszValue) {
            const char* pszArg = ++i < argc ? argv[i] : nullptr;
            if (pOption->nMax > 0 && !ToNumber(pszArg, pOption->nMin, pOption->nMax, n)) {
                strError = strOpt + " needs a number from " + std::to_string(pOption->nMin) + " to "
                    + std::to_string(pOption->nMax);
                return false;
            }
            if (!pszArg) {
                strError = strOpt + " needs an argument";
                return false;
            }
            strValue = pszArg;
        }
        if (!pOption->pfnApply(*this, strValue, n, strError))
            return false;
    }
    if (!m_strDevice.empty() && (m_nExpectBaud || m_nExpectStopBits || m_nExpectFlow >= 0)) {
        strError = "--expect-baud, --expect-stop-bits and --expect-flow need a pseudo-terminal, "
                   "not --device";
        return false;
    }
    return true;
}
