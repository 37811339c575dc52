// Drives the download engine with a script decoded from the input: device bytes, timer
// ticks, DOWN and Load presses, port closes, over an image of any length. After every step
// it checks that what went to the device is a poll or the image's next frame, well formed.

#include "downloadengine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

std::string g_strImagePath;
std::string g_strDirPath;

// Records what the engine does and plays the window's part of the port and the timer.
class CFuzzHost : public CDownloadHost {
public:
    uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) override
    {
        FUZZ_CHECK(nCount >= 1 && nCount <= BREM_FRAME_DATA_MAX + 6);
        m_vLastTx.assign(pBytes, pBytes + nCount);
        return ++m_nTx;
    }
    void AppendLine(const std::string& strText) override { FUZZ_CHECK(strText.size() < 100); }
    void AppendRaw(const unsigned char*, uint32_t nCount) override { m_nRaw += nCount; }
    void SetProgressRange(uint32_t, uint32_t) override { }
    void SetProgressPos(uint32_t) override { }
    uintptr_t SetTimer(uintptr_t nIDEvent, unsigned) override
    {
        m_bTimer = true;
        return nIDEvent;
    }
    void KillTimer(uintptr_t nIDEvent) override
    {
        if (nIDEvent == BREM_POLL_TIMER_ID)
            m_bTimer = false;
    }
    void MessageBox(const std::string&) override { }
    bool RunOpenFileDialog(const std::string&, std::string& strPath) override
    {
        if (m_strDialogAnswer.empty())
            return false;
        strPath = m_strDialogAnswer;
        return true;
    }
    void SetFilePathText(const std::string&) override { }
    int PortOpenFlag() const override { return m_nPortOpen; }

    // Only the last transmission is checked; keeping them all made long inputs crawl.
    CBytes m_vLastTx;
    size_t m_nTx = 0;
    size_t m_nRaw = 0;
    bool m_bTimer = false;
    int m_nPortOpen = 1;
    std::string m_strDialogAnswer;
};

// What the device should see: the image and how far into it the current download is.
struct SModel {
    CBytes vImage;
    size_t nOffset = 0;
    bool bOpen = false;
};

void CheckFrame(const CBytes& vTx, bool bFirst, SModel& model)
{
    size_t i = 0;
    if (bFirst) {
        FUZZ_CHECK(vTx[0] == 0x06);
        i = 1;
    }
    FUZZ_CHECK(vTx.size() >= i + 6 && vTx[i] == 0x02);
    const size_t n = (size_t { vTx[i + 1] } << 8) | vTx[i + 2];
    const size_t nExpected
        = std::min<size_t>(BREM_FRAME_DATA_MAX, model.vImage.size() - model.nOffset);
    FUZZ_CHECK(n >= 1 && n == nExpected && vTx.size() == i + 5 + n);
    unsigned char cSum = 0;
    for (size_t k = 0; k < n; ++k) {
        FUZZ_CHECK(vTx[i + 3 + k] == model.vImage[model.nOffset + k]);
        cSum ^= vTx[i + 3 + k];
    }
    FUZZ_CHECK(vTx[i + 3 + n] == cSum);
    FUZZ_CHECK(vTx[i + 4 + n] == (n == BREM_FRAME_DATA_MAX ? 0x17 : 0x03));
    model.nOffset += n;
}

void DeviceByte(CDownloadEngine& engine, CFuzzHost& host, SModel& model, unsigned char cByte)
{
    const DownloadState nBefore = engine.m_nState;
    const size_t nTx = host.m_nTx;
    const size_t nRaw = host.m_nRaw;
    engine.OnComm(cByte, 1);

    const bool bHandshake = nBefore == STATE_IDENT && engine.m_nState == STATE_SENDING;
    const bool bAck = nBefore == STATE_SENDING && cByte == 0x05;
    FUZZ_CHECK(host.m_nTx - nTx <= 1);
    const bool bMore = model.bOpen && model.nOffset < model.vImage.size();
    if (bHandshake || bAck)
        FUZZ_CHECK((host.m_nTx > nTx) == bMore);
    else
        FUZZ_CHECK(host.m_nTx == nTx);
    if (host.m_nTx > nTx)
        CheckFrame(host.m_vLastTx, bHandshake, model);

    FUZZ_CHECK((host.m_nRaw - nRaw) == (nBefore == STATE_TERMINAL ? 1u : 0u));
    if (nBefore == STATE_IDENT && engine.m_nState == STATE_IDENT)
        FUZZ_CHECK(g_nCounter >= 1 && g_nCounter < static_cast<int>(BREM_IDENT_LENGTH));
    if (nBefore == STATE_SENDING && engine.m_nState == STATE_TERMINAL)
        model.bOpen = false;
}

void WriteImage(const CBytes& vImage)
{
    int nFd = ::open(g_strImagePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(nFd >= 0);
    if (!vImage.empty())
        FUZZ_CHECK(
            ::write(nFd, vImage.data(), vImage.size()) == static_cast<ssize_t>(vImage.size()));
    ::close(nFd);
}

void RemoveScratch()
{
    ::unlink(g_strImagePath.c_str());
    ::rmdir(g_strDirPath.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // tmpfs keeps the per-input rewrite of the image cheap.
    const std::string strDir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string strBase = strDir + "/brem-fuzz-engine-" + std::to_string(::getpid());
    g_strImagePath = strBase + ".bin";
    g_strDirPath = strBase + ".dir.bin";
    ::mkdir(g_strDirPath.c_str(), 0700);
    atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzedDataProvider input(pData, nSize);
    static CBytes s_vWritten { 1 }; // differs from any first image, so the first is written

    SModel model;
    model.vImage.resize(input.ConsumeIntegralInRange<size_t>(0, 20000));
    uint32_t nSeed = input.ConsumeIntegral<uint32_t>() | 1;
    for (unsigned char& c : model.vImage) {
        nSeed ^= nSeed << 13;
        nSeed ^= nSeed >> 17;
        nSeed ^= nSeed << 5;
        c = static_cast<unsigned char>(nSeed);
    }
    if (model.vImage != s_vWritten) {
        WriteImage(model.vImage);
        s_vWritten = model.vImage;
    }

    g_nCounter = 0;
    std::fill(std::begin(g_szText), std::end(g_szText), 0);
    CFuzzHost host;
    CDownloadEngine engine(host);
    engine.m_strFilePath = g_strImagePath;

    for (int nStep = 0; nStep < 4000 && input.remaining_bytes() > 0; ++nStep) {
        switch (input.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
        case 3: {
            const auto nPick = input.ConsumeIntegral<uint8_t>();
            unsigned char cByte = nPick < 64 ? 'P'
                : nPick < 140                ? 0x05
                : nPick < 160                ? 0x15
                                             : nPick;
            DeviceByte(engine, host, model, cByte);
            break;
        }
        case 4: // an identification-sized run of arbitrary bytes
            for (unsigned char c : input.ConsumeBytes<unsigned char>(
                     input.ConsumeIntegralInRange<size_t>(1, BREM_IDENT_LENGTH + 2)))
                DeviceByte(engine, host, model, c);
            break;
        case 5:
            for (int n = input.ConsumeIntegralInRange(1, 8); n > 0; --n)
                DeviceByte(engine, host, model, 0x05);
            break;
        case 6:
            if (host.m_bTimer) {
                const size_t nTx = host.m_nTx;
                engine.OnTimer(BREM_POLL_TIMER_ID);
                FUZZ_CHECK(host.m_nTx == nTx + 1 && host.m_vLastTx == CBytes { 'P' });
                FUZZ_CHECK(engine.m_nState == STATE_POLLING);
            }
            break;
        case 7: {
            const bool bOpens = host.m_nPortOpen == 1 && engine.m_strFilePath == g_strImagePath;
            const size_t nTx = host.m_nTx;
            engine.OnDown();
            FUZZ_CHECK(host.m_nTx == nTx);
            model.bOpen = bOpens;
            model.nOffset = 0;
            break;
        }
        case 8: // closing the port also stops the poll timer, as the window does
            host.m_nPortOpen ^= 1;
            if (!host.m_nPortOpen)
                host.KillTimer(engine.m_nTimerID);
            break;
        case 9: {
            const char* apszAnswers[] = { "", "missing", "dir", "image" };
            std::string strAnswer = apszAnswers[input.ConsumeIntegralInRange(0, 3)];
            host.m_strDialogAnswer = strAnswer == "missing" ? g_strImagePath + ".gone"
                : strAnswer == "dir"                        ? g_strDirPath
                : strAnswer == "image"                      ? g_strImagePath
                                                            : "";
            engine.OnLoad();
            break;
        }
        }
        FUZZ_CHECK(engine.m_File.IsOpen() == model.bOpen);
    }
    return 0;
}
