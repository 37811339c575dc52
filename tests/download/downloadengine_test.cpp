#include "downloadengine.h"
#include "recordinghost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A directory of its own per test, removed with everything in it.
class CTempDir {
public:
    ~CTempDir() { std::system(("rm -rf '" + m_strPath + "'").c_str()); }
    const std::string& Path() const { return m_strPath; }

    // Writes the bytes, then grows the file to nLength (sparse) when nLength is larger.
    std::string Write(const std::string& strName, const CBytes& vData, off_t nLength = 0) const
    {
        std::string strFile = m_strPath + "/" + strName;
        std::ofstream(strFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(vData.data()), std::streamsize(vData.size()));
        return nLength > off_t(vData.size()) && truncate(strFile.c_str(), nLength) != 0 ? ""
                                                                                        : strFile;
    }

private:
    char m_szTemplate[32] = "/tmp/brem-download-XXXXXX";
    std::string m_strPath = mkdtemp(m_szTemplate) ? m_szTemplate : "/nonexistent";
};

CBytes Pattern(size_t nSize)
{
    CBytes v(nSize);
    for (size_t i = 0; i < nSize; ++i)
        v[i] = static_cast<unsigned char>((i * 37 + i / 251) & 0xFF);
    return v;
}

// The frame as the device expects it, built here from the wire format alone.
CBytes Frame(const CBytes& vImage, size_t nOffset, size_t nCount, bool bFirst)
{
    CBytes v(vImage.begin() + nOffset, vImage.begin() + nOffset + nCount);
    unsigned char cSum = 0;
    for (unsigned char c : v)
        cSum ^= c;
    v.insert(v.begin(),
        { 0x02, static_cast<unsigned char>(nCount / 256),
            static_cast<unsigned char>(nCount % 256) });
    if (bFirst)
        v.insert(v.begin(), 0x06);
    v.insert(v.end(), { cSum, static_cast<unsigned char>(nCount == 4096 ? 0x17 : 0x03) });
    return v;
}

CBytes Ident(const std::string& strText)
{
    CBytes v(strText.begin(), strText.end());
    v.resize(48, 0);
    return v;
}

class DownloadEngineTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_nCounter = 0;
        memset(g_szText, 0, sizeof g_szText);
    }
    void Down(const std::string& strPath)
    {
        m_engine.m_strFilePath = strPath;
        m_engine.OnDown();
    }
    void Feed(const CBytes& vBytes)
    {
        for (unsigned char c : vBytes)
            m_engine.OnComm(c, 3);
    }
    void Handshake(const CBytes& vIdent)
    {
        m_engine.OnTimer(BREM_POLL_TIMER_ID);
        Feed({ 'P' });
        Feed(vIdent);
    }

    CTempDir m_dir;
    CRecordingHost m_host;
    CDownloadEngine m_engine { m_host };
};

TEST_F(DownloadEngineTest, AbcWholeExchange)
{
    Down(m_dir.Write("abc.bin", { 'a', 'b', 'c' }));
    Handshake(Ident("BREM-DEV"));
    Feed({ 0x05 });

    const std::vector<std::string> vExpected = { "line ", "settimer 5 500",
        "line There are total 1 Frame", "tx 1", "killtimer 77", "line BREM-DEV",
        "line Handshake OK", "tx 9", "line DownLoad OK", "line Frame 1  OK", "line DownLoad OK" };
    EXPECT_EQ(m_host.m_vEvents, vExpected);
    EXPECT_EQ(
        m_host.m_vTx.back(), (CBytes { 0x06, 0x02, 0x00, 0x03, 0x61, 0x62, 0x63, 0x60, 0x03 }));
    EXPECT_EQ(m_host.m_nRangeLow, 0u);
    EXPECT_TRUE(m_host.m_vBoxes.empty());
}

struct SExchangeCase {
    size_t nSize;
    std::vector<size_t> vFrames;
    int nRefuseAfter = -1; // acknowledgements before the refusal
};

class DownloadExchangeTest : public DownloadEngineTest,
                             public testing::WithParamInterface<SExchangeCase> { };

TEST_P(DownloadExchangeTest, SendsFramesUntilDoneOrRefused)
{
    const SExchangeCase& c = GetParam();
    const CBytes vImage = Pattern(c.nSize);
    const size_t nFrames = c.vFrames.size();
    const size_t nAcks = c.nRefuseAfter < 0 ? nFrames : size_t(c.nRefuseAfter);
    Down(m_dir.Write("image.bin", vImage));
    Handshake(Ident("ID"));
    for (size_t k = 0; k < nAcks; ++k)
        Feed({ 0x05 });
    if (c.nRefuseAfter >= 0 || nFrames == 0) // 0x30: not an acknowledgement, only completes
        Feed({ static_cast<unsigned char>(c.nRefuseAfter >= 0 ? 0x15 : 0x30) });

    std::vector<CBytes> vTx = { { 'P' } };
    std::vector<std::string> vLines
        = { "There are total " + std::to_string(nFrames) + " Frame", "ID", "Handshake OK" };
    if (c.nSize > 0 && c.nSize < 4096)
        vLines.push_back("DownLoad OK");
    size_t nOffset = 0;
    for (size_t k = 0; k < std::min(nFrames, nAcks + 1); ++k) {
        vTx.push_back(Frame(vImage, nOffset, c.vFrames[k], k == 0));
        nOffset += c.vFrames[k];
    }
    for (size_t k = 1; k <= nAcks; ++k)
        vLines.push_back("Frame " + std::to_string(k) + "  OK");
    vLines.push_back(c.nRefuseAfter >= 0 ? "CheckSum Error" : "DownLoad OK");

    EXPECT_EQ(m_host.m_vTx, vTx);
    EXPECT_EQ(std::vector<std::string>(m_host.m_vLines.begin() + 1, m_host.m_vLines.end()), vLines);
    EXPECT_EQ(m_host.m_nRangeHigh, nFrames);
    EXPECT_EQ(m_host.m_nPos, nAcks);
    EXPECT_EQ(m_engine.m_nState, STATE_TERMINAL);
    EXPECT_FALSE(m_engine.m_File.IsOpen());
    EXPECT_EQ(g_nCounter, 0);
}

const std::vector<size_t> g_vFive(5, 4096);

INSTANTIATE_TEST_SUITE_P(Images, DownloadExchangeTest,
    testing::Values(SExchangeCase { 4095, { 4095 } }, SExchangeCase { 4096, { 4096 } },
        SExchangeCase { 4097, { 4096, 1 } }, SExchangeCase { 8192, { 4096, 4096 } },
        SExchangeCase { 0, {} }, SExchangeCase { 0, {}, 2 },
        SExchangeCase { 5 * 4096, g_vFive, 2 }));

TEST_F(DownloadEngineTest, TerminalShowsReceivedBytesRaw)
{
    const CBytes vBytes = { 0x00, 'a', '\r', '\n', 0xFF, 0x05, 0x15 };
    Feed(vBytes);
    EXPECT_EQ(m_host.m_vRaw, vBytes);
    EXPECT_TRUE(m_host.m_vTx.empty());
    EXPECT_TRUE(m_host.m_vLines.empty());
}

TEST_F(DownloadEngineTest, FirstReplyOtherThanPLeavesTimerAndLogsEmptyIdent)
{
    Down(m_dir.Write("two.bin", Pattern(5000)));
    m_engine.OnTimer(BREM_POLL_TIMER_ID);
    Feed({ 'x' });
    EXPECT_EQ(m_engine.m_nState, STATE_IDENT);
    EXPECT_TRUE(m_host.m_bTimerRunning);
    Feed({ 'A' });
    EXPECT_EQ(g_nCounter, 1);

    m_engine.OnTimer(BREM_POLL_TIMER_ID);
    EXPECT_EQ(m_engine.m_nState, STATE_POLLING);
    Feed({ 'P' });
    EXPECT_FALSE(m_host.m_bTimerRunning);
    Feed(CBytes(47, 'B')); // stored from position 1 on; position 0 was cleared
    EXPECT_EQ(m_host.m_vLines.end()[-2], "");
    EXPECT_EQ(m_host.m_vLines.back(), "Handshake OK");
    ASSERT_EQ(m_host.m_vTx.size(), 3u);
    EXPECT_EQ(m_host.m_vTx[2], Frame(Pattern(5000), 0, 4096, true));
}

TEST_F(DownloadEngineTest, TimerTickWhileSendingPollsAgain)
{
    Down(m_dir.Write("two.bin", Pattern(8192)));
    Handshake(Ident("ID"));
    ASSERT_EQ(m_engine.m_nState, STATE_SENDING);
    m_engine.OnTimer(BREM_POLL_TIMER_ID);
    EXPECT_EQ(m_host.m_vTx.back(), CBytes { 'P' });
    EXPECT_EQ(m_engine.m_nState, STATE_POLLING);
}

TEST_F(DownloadEngineTest, LoadAcceptsOnlyLowerOrUpperBinSubstring)
{
    const struct {
        const char* pszPath;
        bool bAccepted;
    } cases[] = {
        { "/d/fw.bin", true },
        { "/d/FW.BIN", true },
        { "/d/fw.Bin", false },
        { "/d/x.bin/notes.txt", true },
    };
    for (const auto& c : cases) {
        m_host = CRecordingHost();
        m_host.m_vPathTexts = { "previous" };
        m_host.m_optDialogAnswer = c.pszPath;
        m_engine.OnLoad();
        EXPECT_EQ(m_host.m_strFilter, "Bin Files(*.bin)|*.bin|All Files(*.*)|*.*||");
        EXPECT_EQ(m_engine.m_strFilePath, c.pszPath);
        EXPECT_EQ(m_host.m_vPathTexts.back(), c.bAccepted ? c.pszPath : "previous") << c.pszPath;
        EXPECT_EQ(m_host.m_vBoxes,
            c.bAccepted ? std::vector<std::string> {}
                        : std::vector<std::string> { "File Format Error" })
            << c.pszPath;
    }
    m_host.m_optDialogAnswer.reset();
    m_engine.OnLoad();
    EXPECT_EQ(m_engine.m_strFilePath, "/d/x.bin/notes.txt");
}

TEST_F(DownloadEngineTest, MixedCaseNameIsRefusedByLoadButSentByDown)
{
    m_host.m_optDialogAnswer = m_dir.Write("fw.Bin", { 'a', 'b', 'c' });
    m_engine.OnLoad();
    EXPECT_EQ(m_host.m_vBoxes, std::vector<std::string> { "File Format Error" });
    EXPECT_TRUE(m_host.m_vPathTexts.empty());
    m_engine.OnDown();
    Handshake(Ident("ID"));
    EXPECT_EQ(m_host.m_vTx.back(), Frame({ 'a', 'b', 'c' }, 0, 3, true));
    EXPECT_EQ(m_host.m_vBoxes.size(), 1u);
}

TEST_F(DownloadEngineTest, DownFailuresCloseThePreviousImageAndStartNoTimer)
{
    const std::string strGood = m_dir.Write("good.bin", Pattern(100));
    const std::string strHeld = m_dir.Write("held.bin", Pattern(100));
    ASSERT_EQ(::mkfifo((m_dir.Path() + "/pipe.bin").c_str(), 0600), 0);
    CImageFile otherHolder;
    ASSERT_TRUE(otherHolder.Open(strHeld));

    const struct {
        std::string strPath;
        int nPortOpen;
        const char* pszBox;
    } cases[] = {
        { strGood, 0, "COM Not Open" }, { "", 1, "File Open Error" },
        { m_dir.Path() + "/missing.bin", 1, "File Open Error" }, { strHeld, 1, "File Open Error" },
        { m_dir.Path() + "/pipe.bin", 1, "File Open Error" }, // must not wait for a writer
        { "/dev/null", 1, "File Open Error" }, // not a regular file
    };
    for (const auto& c : cases) {
        m_host = CRecordingHost();
        Down(strGood);
        ASSERT_TRUE(m_engine.m_File.IsOpen());
        m_host.m_nPortOpen = c.nPortOpen;
        Down(c.strPath);
        EXPECT_EQ(m_host.m_vBoxes, std::vector<std::string> { c.pszBox }) << c.strPath;
        EXPECT_FALSE(m_engine.m_File.IsOpen());
        EXPECT_EQ(
            std::count(m_host.m_vEvents.begin(), m_host.m_vEvents.end(), "settimer 5 500"), 1);
    }
}

TEST_F(DownloadEngineTest, DownLogsHeaderTextOfBytes3To50)
{
    const std::string strAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string strLong = strAlphabet + strAlphabet + strAlphabet;
    const std::pair<std::string, std::string> cases[]
        = { { "", "" }, { "abc", "" }, { "abcd", "d" }, { std::string("xyzHi\0Wo", 8), "Hi" },
              { "xyz" + strLong, strLong.substr(0, 48) } };
    for (const auto& [strImage, strHeader] : cases) {
        m_host = CRecordingHost();
        Down(m_dir.Write("h.bin", CBytes(strImage.begin(), strImage.end())));
        ASSERT_EQ(m_host.m_vLines.size(), 2u);
        EXPECT_EQ(m_host.m_vLines[0], strHeader);
    }
}

// A download interrupted after 48 or more acknowledgements leaves the count past the buffer:
// the identification is stored from its start all the same.
TEST_F(DownloadEngineTest, IdentIsLoggedFromItsStart)
{
    const struct {
        int nLeftover;
        std::string strIdent;
        const char* pszLine;
    } cases[] = { { 0, std::string("\0VISIBLE", 8), "" }, { 48, "AGAIN", "AGAIN" },
        { 5000, "AGAIN", "AGAIN" }, { -1, "AGAIN", "AGAIN" } };
    for (const auto& c : cases) {
        m_host = CRecordingHost();
        Down(m_dir.Write("abc.bin", { 'a', 'b', 'c' }));
        g_nCounter = c.nLeftover;
        Handshake(Ident(c.strIdent));
        EXPECT_EQ(m_host.m_vLines.end()[-3], c.pszLine) << c.nLeftover;
        EXPECT_EQ(m_host.m_vLines.end()[-2], "Handshake OK");
        EXPECT_EQ(m_host.m_vTx.back().size(), 9u);
    }
}

TEST_F(DownloadEngineTest, AcknowledgementCountStopsAtIntMax)
{
    Down(m_dir.Write("empty.bin", {}));
    Handshake(Ident("ID"));
    g_nCounter = INT_MAX - 1;
    Feed({ 0x05, 0x05 });
    EXPECT_EQ(g_nCounter, INT_MAX);
    EXPECT_EQ(m_host.m_vLines.back(), "Frame 2147483647  OK");
}

TEST_F(DownloadEngineTest, SendNextFrameOnClosedImageDoesNothing)
{
    Down(m_dir.Write("three.bin", Pattern(3 * 4096)));
    Handshake(Ident("ID"));
    Feed({ 0x05 });
    const size_t nSent = m_host.m_vTx.size();
    m_host.m_nPortOpen = 0;
    Down(m_engine.m_strFilePath); // "COM Not Open", image closed, still STATE_SENDING
    m_host.m_vLines.clear();
    m_engine.SendNextFrame(true);
    m_engine.SendNextFrame(false);
    Feed({ 0x05 });
    EXPECT_EQ(m_host.m_vTx.size(), nSent);
    EXPECT_EQ(m_host.m_vLines, std::vector<std::string> { "Frame 2  OK" });
}

TEST_F(DownloadEngineTest, ImagesOf4GiBAndMoreAreRefused)
{
    const off_t n4GiB = off_t { 1 } << 32;
    Down(m_dir.Write("max.bin", { 'a' }, n4GiB - 1));
    EXPECT_EQ(m_host.m_vLines.back(), "There are total 1048576 Frame");
    EXPECT_EQ(m_host.m_nRangeHigh, 1048576u); // past 16 bits

    m_host = CRecordingHost();
    Down(m_dir.Write("huge.bin", { 'a' }, n4GiB));
    EXPECT_EQ(m_host.m_vBoxes, std::vector<std::string> { "File Open Error" });
    EXPECT_FALSE(m_engine.m_File.IsOpen());
    EXPECT_TRUE(m_host.m_vEvents.empty());
}

} // namespace
