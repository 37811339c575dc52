// Drives the download engine with a script decoded from the input: device bytes, timer ticks,
// the port's reports that writes went out or failed, refused writes, DOWN and Load presses,
// port closes and an image that changes under it (also within one clock tick). The image is
// read from memory, so millions of inputs run.
//
// The property: the engine ends a download with "DownLoad OK" only when every frame of the
// image as it was at DOWN went out exactly once, whole and in order, a 0x05 arrived after each
// had gone out, and the file still holds that image.

#include "downloadengine.h"
#include "memoryimage.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #cond);                     \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

namespace {

using CBytes = std::vector<unsigned char>;

CBytes ExpectedFrame(const CBytes& vImage, size_t k)
{
    const size_t nOffset = (k - 1) * BREM_FRAME_DATA_MAX;
    const size_t n = std::min<size_t>(BREM_FRAME_DATA_MAX, vImage.size() - nOffset);
    CBytes v;
    if (k == 1)
        v.push_back(0x06);
    v.insert(v.end(), { 0x02, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n) });
    unsigned char cSum = 0;
    for (size_t i = 0; i < n; ++i)
        cSum ^= vImage[nOffset + i];
    v.insert(v.end(), vImage.begin() + nOffset, vImage.begin() + nOffset + n);
    v.insert(v.end(), { cSum, static_cast<unsigned char>(n == BREM_FRAME_DATA_MAX ? 0x17 : 0x03) });
    return v;
}

// Plays the window's part and the port's, and keeps the record the property is checked on.
class CFuzzHost : public CDownloadHost {
public:
    explicit CFuzzHost(const CMemoryImage& image)
        : m_image(image)
    { }

    uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) override
    {
        After(Call::Other);
        FUZZ_CHECK(nCount >= 1 && nCount <= BREM_FRAME_DATA_MAX + 6);
        if (!m_bOpen || m_bRefuseNext) {
            m_bRefuseNext = false;
            return 0;
        }
        const uint64_t nNr = ++m_nLastNr;
        m_dqPending.push_back(nNr);
        if (nCount == 1 && pBytes[0] == 'P') {
            FUZZ_CHECK(m_bActive && m_vFrames.empty());
            return nNr;
        }
        // A frame: the image's next one, and only once the one before was answered.
        FUZZ_CHECK(m_bActive);
        const size_t k = m_vFrames.size() + 1;
        FUZZ_CHECK(k == 1 || m_vFrames.back().bAcked);
        FUZZ_CHECK(k <= (m_vImage.size() + BREM_FRAME_DATA_MAX - 1) / BREM_FRAME_DATA_MAX);
        FUZZ_CHECK(CBytes(pBytes, pBytes + nCount) == ExpectedFrame(m_vImage, k));
        m_vFrames.push_back({ nNr, false, false });
        return nNr;
    }
    void AppendLine(const std::string& strText) override
    {
        After(strText == "Handshake OK" ? Call::Handshake : Call::Other);
        FUZZ_CHECK(strText.size() < 200);
        m_bOkLine = strText == "DownLoad OK";
    }
    void AppendRaw(const unsigned char*, uint32_t) override { After(Call::Other); }
    void SetProgressRange(uint32_t, uint32_t) override { After(Call::Other); }
    void SetProgressPos(uint32_t) override { After(Call::Other); }
    uintptr_t SetTimer(uintptr_t nIDEvent, unsigned) override
    {
        After(Call::SetTimer);
        m_bTimer = true;
        return nIDEvent;
    }
    void KillTimer(uintptr_t nIDEvent) override
    {
        After(Call::Other);
        if (nIDEvent == BREM_POLL_TIMER_ID)
            m_bTimer = false;
    }
    void MessageBox(const std::string&) override { After(Call::Other); }
    bool RunOpenFileDialog(const std::string&, std::string& strPath) override
    {
        After(Call::Other);
        if (m_strDialogAnswer.empty())
            return false;
        strPath = m_strDialogAnswer;
        return true;
    }
    void SetFilePathText(const std::string&) override { After(Call::Other); }
    int PortOpenFlag() const override { return m_bOpen ? 1 : 0; }
    void OnDownloadStep() override { After(Call::Other); }
    void OnDownloadEnd(DownloadEnd eEnd) override
    {
        After(eEnd == DownloadEnd::Ok ? Call::EndOk : Call::Other);
        FUZZ_CHECK(m_bActive);
        if (eEnd == DownloadEnd::Ok) {
            FUZZ_CHECK(m_vFrames.size()
                == (m_vImage.size() + BREM_FRAME_DATA_MAX - 1) / BREM_FRAME_DATA_MAX);
            for (const SFrame& frame : m_vFrames)
                FUZZ_CHECK(frame.bOut && frame.bAcked);
            FUZZ_CHECK(m_image.m_bExists && m_image.m_vBytes == m_vImage);
        }
        m_bActive = false;
    }

    // The engine has just taken DOWN; a new download runs if it opened the image.
    void DownPressed(bool bRunning)
    {
        m_bActive = bRunning;
        m_vFrames.clear();
        if (bRunning)
            m_vImage = m_image.m_vBytes;
    }
    // A device byte about to reach the engine.
    void DeviceByte(unsigned char cByte)
    {
        if (cByte == 0x05 && !m_vFrames.empty() && m_vFrames.back().bOut)
            m_vFrames.back().bAcked = true;
    }
    // The port's report for the first nCount writes still pending; 0 when none is.
    uint64_t Report(size_t nCount, bool bFailed)
    {
        if (m_dqPending.empty())
            return 0;
        nCount = std::min(std::max<size_t>(nCount, 1), m_dqPending.size());
        const uint64_t nNr = m_dqPending[nCount - 1];
        m_dqPending.erase(m_dqPending.begin(), m_dqPending.begin() + ptrdiff_t(nCount));
        if (!bFailed) {
            for (SFrame& frame : m_vFrames)
                frame.bOut = frame.bOut || frame.nNr <= nNr;
        }
        return nNr;
    }
    // Closing drops what was not written; the next open numbers writes from 1 again.
    void SetOpen(bool bOpen)
    {
        m_bOpen = bOpen;
        if (!bOpen) {
            m_dqPending.clear();
            m_nLastNr = 0;
        }
    }

    // A "DownLoad OK" line that nothing has followed yet.
    bool OkLinePending() const { return m_bOkLine; }

    bool m_bTimer = false;
    bool m_bRefuseNext = false;
    std::string m_strDialogAnswer;

private:
    enum class Call { Handshake, SetTimer, EndOk, Other };

    // The identification and the image's header are logged as they are, "DownLoad OK" included:
    // then "Handshake OK" or the poll timer follows. The engine's own "DownLoad OK" is the line
    // with which it ends the download, and only that may follow it.
    void After(Call eCall)
    {
        if (m_bOkLine)
            FUZZ_CHECK(eCall != Call::Other);
        else
            FUZZ_CHECK(eCall != Call::EndOk);
        m_bOkLine = false;
    }

    struct SFrame {
        uint64_t nNr;
        bool bOut;
        bool bAcked; // a 0x05 arrived after it went out
    };

    const CMemoryImage& m_image;
    bool m_bOpen = true;
    uint64_t m_nLastNr = 0;
    std::deque<uint64_t> m_dqPending;
    bool m_bActive = false;
    bool m_bOkLine = false;
    CBytes m_vImage; // as it was at DOWN
    std::vector<SFrame> m_vFrames; // of the running download, in the order written
};

CBytes Bytes(FuzzedDataProvider& input, size_t nMax)
{
    CBytes v(input.ConsumeIntegralInRange<size_t>(0, nMax));
    uint32_t nSeed = input.ConsumeIntegral<uint32_t>() | 1;
    for (unsigned char& c : v) {
        nSeed ^= nSeed << 13;
        nSeed ^= nSeed >> 17;
        nSeed ^= nSeed << 5;
        c = static_cast<unsigned char>(nSeed);
    }
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzedDataProvider input(pData, nSize);
    CMemoryImage image;
    image.m_vBytes = Bytes(input, 20000);
    CFuzzHost host(image);
    CDownloadEngine engine(host, &image);
    engine.m_strFilePath = image.m_strPath;

    const auto deliver = [&](unsigned char cByte) {
        host.DeviceByte(cByte);
        engine.OnComm(cByte, 1);
    };
    for (int nStep = 0; nStep < 4000 && input.remaining_bytes() > 0; ++nStep) {
        switch (input.ConsumeIntegralInRange(0, 13)) {
        case 0:
        case 1:
        case 2: {
            const auto nPick = input.ConsumeIntegral<uint8_t>();
            deliver(nPick < 64 ? 'P' : nPick < 140 ? 0x05 : nPick < 160 ? 0x15 : nPick);
            break;
        }
        case 3: // an identification-sized run of arbitrary bytes
            for (unsigned char c : input.ConsumeBytes<unsigned char>(
                     input.ConsumeIntegralInRange<size_t>(1, BREM_IDENT_LENGTH + 2)))
                deliver(c);
            break;
        case 4:
            for (int n = input.ConsumeIntegralInRange(1, 4); n > 0; --n)
                deliver(0x05);
            break;
        case 5:
        case 6:
            if (const uint64_t nNr = host.Report(input.ConsumeIntegralInRange<size_t>(1, 3), false))
                engine.OnTxEmpty(nNr);
            break;
        case 7:
            if (const uint64_t nNr = host.Report(input.ConsumeIntegralInRange<size_t>(1, 3), true))
                engine.OnTxFailed(nNr);
            break;
        case 8:
            if (host.m_bTimer)
                engine.OnTimer(BREM_POLL_TIMER_ID);
            break;
        case 9:
            engine.OnDown();
            host.DownPressed(engine.Downloading());
            break;
        case 10: // the window closes the port the way the operator's Close does
            if (host.PortOpenFlag()) {
                host.KillTimer(engine.m_nTimerID);
                host.SetOpen(false);
                engine.OnPortClosed();
            } else {
                host.SetOpen(true);
            }
            break;
        case 11:
            host.m_bRefuseNext = true;
            break;
        case 12: { // the image is rebuilt: rewritten, grown, shrunk, removed
            CBytes vNew = image.m_vBytes;
            switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                if (!vNew.empty())
                    vNew[input.ConsumeIntegralInRange<size_t>(0, vNew.size() - 1)] ^= 0x5A;
                break;
            case 1:
                vNew.resize(vNew.size() + input.ConsumeIntegralInRange<size_t>(1, 5000));
                break;
            case 2:
                vNew.resize(input.ConsumeIntegralInRange<size_t>(0, vNew.size()));
                break;
            case 3:
                image.m_bExists = !image.m_bExists;
                break;
            }
            image.Change(vNew, input.ConsumeBool());
            break;
        }
        case 13: {
            const char* apszAnswers[] = { "", "missing.bin", "image.bin" };
            host.m_strDialogAnswer = apszAnswers[input.ConsumeIntegralInRange(0, 2)];
            engine.OnLoad();
            break;
        }
        }
        FUZZ_CHECK(!host.OkLinePending());
        FUZZ_CHECK(engine.m_File.IsOpen() == engine.Downloading());
        FUZZ_CHECK(engine.Downloading() || engine.m_nState == STATE_TERMINAL);
    }
    return 0;
}
