#include "../sha256.h"

#include <windows.h>
// windows.h first: bcrypt.h takes its types from it.
#include <bcrypt.h>

#include <algorithm>

std::string Sha256Hex(const unsigned char* pBytes, size_t nCount)
{
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    UCHAR digest[32] = {};
    bool bDone = BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(
                     &hAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))
        && BCRYPT_SUCCESS(::BCryptCreateHash(hAlgorithm, &hHash, nullptr, 0, nullptr, 0, 0));
    // It counts in ULONG: longer input goes in parts.
    for (size_t nDone = 0; bDone && nDone < nCount;) {
        const auto nPart = static_cast<ULONG>(std::min<size_t>(nCount - nDone, 1u << 30));
        bDone
            = BCRYPT_SUCCESS(::BCryptHashData(hHash, const_cast<PUCHAR>(pBytes + nDone), nPart, 0));
        nDone += nPart;
    }
    bDone = bDone && BCRYPT_SUCCESS(::BCryptFinishHash(hHash, digest, sizeof digest, 0));
    if (hHash)
        ::BCryptDestroyHash(hHash);
    if (hAlgorithm)
        ::BCryptCloseAlgorithmProvider(hAlgorithm, 0);
    if (!bDone)
        return std::string();
    static const char g_szHex[] = "0123456789abcdef";
    std::string strHex;
    for (UCHAR c : digest) {
        strHex += g_szHex[c >> 4];
        strHex += g_szHex[c & 15];
    }
    return strHex;
}
