#include "lineends.h"

#include <cstring>

namespace {

const char* Find(const char* p, const char* pEnd, char c)
{
    return static_cast<const char*>(std::memchr(p, c, size_t(pEnd - p)));
}

} // namespace

void FindLineBreaks(const char* pData, int nFrom, int nTo, char cBefore, int nAfter,
    ELineEnds eEnds, std::vector<uint32_t>& vecOut)
{
    const char* const pEnd = pData + nTo;
    if (eEnds == ELineEnds::CrLf) {
        // Pairs only: each LF with a CR before it. A pair split by nFrom began before it.
        for (const char* p = Find(pData + nFrom, pEnd, '\n'); p; p = Find(p + 1, pEnd, '\n')) {
            const int n = int(p - pData);
            if (n > nFrom && pData[n - 1] == '\r')
                vecOut.push_back(uint32_t(n - 1));
        }
        if (nTo > nFrom && pData[nTo - 1] == '\r' && nAfter == '\n')
            vecOut.push_back(uint32_t(nTo - 1));
        return;
    }
    // Every CR and every LF that does not follow a CR; the two are looked for apart, each with
    // the fast search, and taken in order.
    const char* pCr = Find(pData + nFrom, pEnd, '\r');
    const char* pLf = Find(pData + nFrom, pEnd, '\n');
    while (pCr || pLf) {
        if (pCr && (!pLf || pCr < pLf)) {
            const int n = int(pCr - pData);
            vecOut.push_back(uint32_t(n));
            if (pLf == pCr + 1)
                pLf = Find(pLf + 1, pEnd, '\n');
            pCr = Find(pCr + 1, pEnd, '\r');
        } else {
            const int n = int(pLf - pData);
            if ((n > nFrom ? pData[n - 1] : cBefore) != '\r')
                vecOut.push_back(uint32_t(n));
            pLf = Find(pLf + 1, pEnd, '\n');
        }
    }
}
