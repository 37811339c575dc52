#include "harmlesstext.h"

std::string HarmlessText(const char* pText, size_t nLength)
{
    static const char g_szHex[] = "0123456789abcdef";
    std::string strOut;
    strOut.reserve(nLength);
    for (size_t i = 0; i < nLength; ++i) {
        unsigned char c = static_cast<unsigned char>(pText[i]);
        if (c == '\\') {
            strOut += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            strOut += static_cast<char>(c);
        } else {
            strOut += "\\x";
            strOut += g_szHex[c >> 4];
            strOut += g_szHex[c & 0x0f];
        }
    }
    return strOut;
}
