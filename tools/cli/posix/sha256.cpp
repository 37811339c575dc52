#include "../sha256.h"

#include <nettle/sha2.h>

std::string Sha256Hex(const unsigned char* pBytes, size_t nCount)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, nCount, pBytes);
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, sizeof digest, digest);
    static const char g_szHex[] = "0123456789abcdef";
    std::string strHex;
    for (uint8_t c : digest) {
        strHex += g_szHex[c >> 4];
        strHex += g_szHex[c & 15];
    }
    return strHex;
}
