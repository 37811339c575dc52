// Arbitrary host bytes, cut into arbitrary chunks with quiet spells between them. Checks that
// every accepted frame really is a well-formed frame of the input, and that the device says
// nothing but poll answers, 0x05 and 0x15.
#include "simdevice.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool b, const char* pszWhat)
{
    if (!b) {
        std::fprintf(stderr, "invariant broken: %s\n", pszWhat);
        std::abort();
    }
}

const char g_szIdent[] = "FUZZ DEVICE";

// Follows the device's answers byte by byte.
class CAnswerChecker {
public:
    explicit CAnswerChecker(int nNoise)
        : m_nNoiseLeft(nNoise)
    { }

    void Take(uint8_t by)
    {
        if (m_nIdentLeft > 0) {
            const size_t nPos = CSimDevice::kIdentSize - m_nIdentLeft--;
            const uint8_t byWant = nPos < sizeof(g_szIdent) - 1 ? uint8_t(g_szIdent[nPos]) : 0;
            Check(by == byWant, "identification bytes");
            return;
        }
        if (m_nNoiseLeft > 0 && !m_bPolled) {
            --m_nNoiseLeft;
            Check(by != 'P', "noise holds a P");
            return;
        }
        if (by == 'P') {
            Check(m_nNoiseLeft == 0, "noise cut short");
            m_bPolled = true;
            m_nIdentLeft = CSimDevice::kIdentSize;
        } else if (by == 0x05) {
            ++m_nAcks;
        } else {
            Check(by == 0x15, "an answer that is no answer");
            ++m_nNaks;
        }
    }

    long m_nAcks = 0;
    long m_nNaks = 0;

private:
    int m_nNoiseLeft;
    size_t m_nIdentLeft = 0;
    bool m_bPolled = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 3)
        return 0;
    CSimDevice::Options options;
    std::copy(g_szIdent, g_szIdent + sizeof(g_szIdent) - 1, options.m_szIdent.begin());
    options.m_nRefuseFrame = pData[0] & 3;
    options.m_nStopAfter = ((pData[0] >> 2) & 7) == 7 ? -1 : (pData[0] >> 2) & 7;
    options.m_nNoise = (pData[0] >> 5) & 3;
    options.m_nHangupAfter = (pData[1] & 7) == 7 ? -1 : pData[1] & 7;
    uint32_t dwRandom = pData[2] | uint32_t(pData[1]) << 8;
    const uint8_t* pIn = pData + 3; // the host's bytes
    const size_t nIn = nSize - 3;

    CSimDevice device(options);
    // Everything fed, in order: accepted frames are checked against it.
    std::vector<uint8_t> stream;
    stream.reserve(nIn + 2 * 4110);
    uint64_t nImage = 0;
    device.SetImageSink([&](uint64_t nOffset, const uint8_t* p, size_t nCount) {
        const uint64_t nEnd = device.BytesTaken() - 1; // the byte being taken
        Check(nEnd < stream.size(), "sink called for a byte never fed");
        if (nCount == 0) {
            Check(nOffset == 0 && stream[nEnd] == 0x06, "a download starts without 0x06");
            nImage = 0;
            return;
        }
        Check(nOffset == nImage, "image offsets out of order");
        Check(nCount >= 1 && nCount <= CSimDevice::kMaxData, "frame length");
        Check(nEnd >= nCount + 4, "frame shorter than its length");
        const uint8_t* pFrame = stream.data() + (nEnd - nCount - 4);
        Check(pFrame[0] == 0x02, "start byte");
        Check((size_t(pFrame[1]) << 8 | pFrame[2]) == nCount, "length bytes");
        uint8_t byXor = 0;
        for (size_t i = 0; i < nCount; ++i) {
            Check(p[i] == pFrame[3 + i], "accepted data differs from the frame");
            byXor ^= p[i];
        }
        Check(pFrame[3 + nCount] == byXor, "checksum");
        Check(pFrame[4 + nCount] == (nCount == CSimDevice::kMaxData ? 0x17 : 0x03), "end byte");
        nImage += nCount;
    });

    CAnswerChecker answers(options.m_nNoise);
    std::vector<uint8_t> out;
    std::vector<uint8_t> chunk;
    size_t nPos = 0;
    int nSynthesized = 0;
    while (nPos < nIn) {
        dwRandom = dwRandom * 1103515245u + 12345u;
        const uint32_t dwDraw = dwRandom >> 16;
        chunk.clear();
        if ((dwDraw & 15) == 0) {
            device.OnQuiet();
            continue;
        }
        if ((dwDraw & 31) == 1 && nSynthesized < 2) {
            // Full frames do not fit in a short input: make one, perhaps spoilt, from the next
            // input byte.
            ++nSynthesized;
            if (dwDraw & 16)
                chunk.push_back(0x06);
            chunk.insert(chunk.end(), { 0x02, 0x10, 0x00 });
            uint8_t byXor = 0;
            for (size_t i = 0; i < CSimDevice::kMaxData; ++i) {
                const uint8_t by = uint8_t(pIn[nPos] + i * (dwDraw >> 8));
                chunk.push_back(by);
                byXor ^= by;
            }
            chunk.push_back((dwDraw & 32) ? uint8_t(byXor ^ 1) : byXor);
            chunk.push_back((dwDraw & 64) ? 0x03 : 0x17);
            ++nPos;
        } else {
            const size_t nChunk = std::min<size_t>(nIn - nPos, 1 + (dwDraw >> 4) % 600);
            chunk.assign(pIn + nPos, pIn + nPos + nChunk);
            nPos += nChunk;
        }
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        out.clear();
        const bool bWasSilent = device.IsSilent();
        device.Feed(chunk.data(), chunk.size(), out);
        for (uint8_t by : out)
            answers.Take(by);
        Check(device.ImageBytes() == nImage, "image byte count");
        Check(answers.m_nAcks == device.FramesAccepted(), "acknowledgements");
        Check(answers.m_nNaks == device.FramesRefused(), "refusals");
        Check(!bWasSilent || (out.empty() && device.IsSilent()), "silent yet talking");
    }
    return 0;
}
