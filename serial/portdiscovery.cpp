#include "portdiscovery.h"

#include <cctype>
#include <cstdint>

namespace {

const char* const g_szDash = " \xe2\x80\x94 "; // " — "

} // namespace

bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i]))
            && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t iEnd = i, jEnd = j;
            while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd])))
                ++iEnd;
            while (jEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[jEnd])))
                ++jEnd;
            const std::string strA = a.substr(i, iEnd - i), strB = b.substr(j, jEnd - j);
            const size_t nA = strA.find_first_not_of('0'), nB = strB.find_first_not_of('0');
            const std::string strNumA = nA == std::string::npos ? "" : strA.substr(nA);
            const std::string strNumB = nB == std::string::npos ? "" : strB.substr(nB);
            if (strNumA.size() != strNumB.size())
                return strNumA.size() < strNumB.size();
            if (strNumA != strNumB)
                return strNumA < strNumB;
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string SSerialDevice::Key() const
{
    if (!strById.empty())
        return strById;
    if (!strSerial.empty())
        return "usb:" + strVendorId + ":" + strProductId + ":" + strSerial;
    return strPath;
}

std::string SSerialDevice::Label() const
{
    if (!IsUsb())
        return strProduct.empty() ? "built-in serial port" : strProduct;
    std::string strLabel = !strProduct.empty() ? strProduct
        : !strManufacturer.empty()             ? strManufacturer
                                               : "USB " + strVendorId + ":" + strProductId;
    if (!strSerial.empty())
        strLabel += " (" + strSerial + ")";
    return strLabel;
}

std::string SSerialDevice::DisplayName() const
{
    return strName + g_szDash + Label();
}

std::string SanitizedLabel(const std::string& strText, size_t nMax)
{
    std::string strOut;
    size_t nChars = 0;
    for (size_t i = 0; i < strText.size() && nChars < nMax; ++nChars) {
        const auto c = static_cast<unsigned char>(strText[i]);
        if (c < 0x80) {
            strOut += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
            ++i;
            continue;
        }
        // A well-formed sequence of 2 to 4 bytes, not an overlong one, a surrogate or a C1
        // control (which some terminals take as an escape).
        const size_t nLen = c >= 0xf5 ? 0 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
        bool bFormed = nLen > 0 && i + nLen <= strText.size();
        uint32_t nCode = nLen == 2 ? c & 0x1f : nLen == 3 ? c & 0x0f : c & 0x07;
        for (size_t k = 1; bFormed && k < nLen; ++k) {
            const auto cc = static_cast<unsigned char>(strText[i + k]);
            bFormed = (cc & 0xc0) == 0x80;
            nCode = (nCode << 6) | (cc & 0x3f);
        }
        if (!bFormed) {
            strOut += '?';
            ++i;
            continue;
        }
        const bool bValid = nCode >= 0xa0 && !(nCode >= 0xd800 && nCode < 0xe000)
            && nCode <= 0x10ffff && (nLen != 3 || nCode >= 0x800)
            && (nLen != 4 || nCode >= 0x10000);
        if (bValid)
            strOut.append(strText, i, nLen);
        else
            strOut += '?';
        i += nLen;
    }
    const size_t nFirst = strOut.find_first_not_of(' ');
    if (nFirst == std::string::npos)
        return std::string();
    return strOut.substr(nFirst, strOut.find_last_not_of(' ') - nFirst + 1);
}
