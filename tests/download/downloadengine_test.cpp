#include "downloadengine.h"
#include "memoryimage.h"
#include "recordinghost.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

namespace {

// A directory of its own per test, removed with everything in it.
class CTempDir {
public:
    CTempDir()
    {
        static std::atomic<unsigned> g_nDirs { 0 };
        const auto nStamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_path = std::filesystem::temp_directory_path()
            / ("brem-download-" + std::to_string(nStamp) + "-" + std::to_string(++g_nDirs));
        std::filesystem::create_directories(m_path);
        m_strPath = m_path.generic_string();
    }
    ~CTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_strPath; }

    // Writes the bytes, then grows the file to nLength (sparse) when nLength is larger.
    std::string Write(const std::string& strName, const CBytes& vData, uint64_t nLength = 0) const
    {
        std::string strFile = m_strPath + "/" + strName;
        std::ofstream(strFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(vData.data()), std::streamsize(vData.size()));
        std::error_code ec;
        if (nLength > vData.size())
            std::filesystem::resize_file(strFile, nLength, ec);
        return ec ? "" : strFile;
    }

private:
    std::filesystem::path m_path;
    std::string m_strPath;
};

CBytes Pattern(size_t nSize, unsigned nSeed = 0)
{
    CBytes v(nSize);
    for (size_t i = 0; i < nSize; ++i)
        v[i] = static_cast<unsigned char>((i * 37 + i / 251 + nSeed) & 0xFF);
    return v;
}

// Frame k (from 1) of the image as the device expects it, built here from the wire format.
CBytes Frame(const CBytes& vImage, size_t k)
{
    const size_t nOffset = (k - 1) * 4096;
    const size_t nCount = std::min<size_t>(4096, vImage.size() - nOffset);
    CBytes v(vImage.begin() + nOffset, vImage.begin() + nOffset + nCount);
    unsigned char cSum = 0;
    for (unsigned char c : v)
        cSum ^= c;
    v.insert(v.begin(),
        { 0x02, static_cast<unsigned char>(nCount / 256),
            static_cast<unsigned char>(nCount % 256) });
    if (k == 1)
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

std::vector<std::string> Lines(const std::string& strText)
{
    std::vector<std::string> v;
    std::istringstream in(strText);
    for (std::string str; std::getline(in, str, '|');)
        v.push_back(str);
    return v;
}

class DownloadEngineTest : public testing::Test {
protected:
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
    // The port reports every write so far written out.
    void Out() { m_engine.OnTxEmpty(m_host.m_vTx.size()); }
    void Handshake(const CBytes& vIdent)
    {
        m_engine.OnTimer(BREM_POLL_TIMER_ID);
        Out();
        Feed({ 'P' });
        Feed(vIdent);
        Out();
    }
    // Frames the port took, without the polls.
    std::vector<CBytes> FramesSent() const
    {
        std::vector<CBytes> v;
        for (const CBytes& vTx : m_host.m_vTx)
            if (vTx != CBytes { 'P' })
                v.push_back(vTx);
        return v;
    }
    // The log after DOWN's header and frame-count lines.
    std::vector<std::string> LinesAfterDown() const
    {
        return std::vector<std::string>(
            m_host.m_vLines.begin() + std::min<size_t>(2, m_host.m_vLines.size()),
            m_host.m_vLines.end());
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
        "line Handshake OK", "tx 9", "line Frame 1  OK", "line DownLoad OK" };
    EXPECT_EQ(m_host.m_vEvents, vExpected);
    EXPECT_EQ(
        m_host.m_vTx.back(), (CBytes { 0x06, 0x02, 0x00, 0x03, 0x61, 0x62, 0x63, 0x60, 0x03 }));
    EXPECT_EQ(m_host.m_vEnds, std::vector<DownloadEnd> { DownloadEnd::Ok });
    EXPECT_EQ(m_host.m_nSteps, 3); // poll answered, identification complete, frame acknowledged
    EXPECT_FALSE(m_engine.m_File.IsOpen());
    EXPECT_EQ(g_nCounter, 0);
}

struct SExchangeCase {
    size_t nSize;
    int nRefuseAfter = -1; // acknowledgements before the refusal
};

class DownloadExchangeTest : public DownloadEngineTest,
                             public testing::WithParamInterface<SExchangeCase> { };

TEST_P(DownloadExchangeTest, SendsFramesUntilDoneOrRefused)
{
    const SExchangeCase& c = GetParam();
    const CBytes vImage = Pattern(c.nSize);
    const size_t nFrames = (c.nSize + 4095) / 4096;
    const size_t nAcks = c.nRefuseAfter < 0 ? nFrames : size_t(c.nRefuseAfter);
    Down(m_dir.Write("image.bin", vImage));
    Handshake(Ident("ID"));
    for (size_t k = 0; k < nAcks; ++k) {
        Feed({ 0x05 });
        Out();
    }
    if (c.nRefuseAfter >= 0)
        Feed({ 0x15 });

    std::vector<CBytes> vFrames;
    for (size_t k = 1; k <= std::min(nFrames, nAcks + 1); ++k)
        vFrames.push_back(Frame(vImage, k));
    std::vector<std::string> vLines = { "ID", "Handshake OK" };
    for (size_t k = 1; k <= nAcks; ++k)
        vLines.push_back("Frame " + std::to_string(k) + "  OK");
    vLines.push_back(c.nRefuseAfter >= 0 ? "CheckSum Error" : "DownLoad OK");

    EXPECT_EQ(FramesSent(), vFrames);
    EXPECT_EQ(m_host.m_vLines[1], "There are total " + std::to_string(nFrames) + " Frame");
    EXPECT_EQ(LinesAfterDown(), vLines);
    EXPECT_EQ(m_host.m_nRangeHigh, nFrames);
    EXPECT_EQ(m_host.m_nPos, nAcks);
    EXPECT_EQ(m_host.m_vEnds,
        std::vector { c.nRefuseAfter >= 0 ? DownloadEnd::Refused : DownloadEnd::Ok });
    EXPECT_FALSE(m_engine.m_File.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Images, DownloadExchangeTest,
    testing::Values(SExchangeCase { 4095 }, SExchangeCase { 4096 }, SExchangeCase { 4097 },
        SExchangeCase { 8192 }, SExchangeCase { 5 * 4096, 2 }));

// A device that misbehaves, as a script: "tick" the poll timer, "out" the port reports every
// write so far written out, "failed" it reports them lost, "refuse" it takes no more writes,
// "close" the port is closed, "down" DOWN again; "P", "05", "15", "x" are device bytes and
// "id"/"id0" an identification ("ID", or one starting with a zero byte).
struct SScriptCase {
    const char* pszName;
    std::string strScript;
    std::string strLines; // the log after DOWN's two lines, '|' between lines
    std::string strRaw; // what was shown as terminal text
    std::vector<size_t> vFrames; // frames the port took, by number
    std::optional<DownloadEnd> optEnd;
    size_t nPolls = 1;
};

void PrintTo(const SScriptCase& c, std::ostream* pOut)
{
    *pOut << c.strScript;
}

class DownloadScriptTest : public DownloadEngineTest,
                           public testing::WithParamInterface<SScriptCase> { };

TEST_P(DownloadScriptTest, OnlyAnswersToWhatWentOutCount)
{
    const SScriptCase& c = GetParam();
    CBytes vImage = Pattern(5000);
    vImage[3] = 0; // an empty header line
    const std::string strPath = m_dir.Write("two.bin", vImage);
    Down(strPath);
    std::istringstream in(c.strScript);
    for (std::string strStep; in >> strStep;) {
        if (strStep == "tick")
            m_engine.OnTimer(BREM_POLL_TIMER_ID);
        else if (strStep == "out")
            Out();
        else if (strStep == "failed")
            m_engine.OnTxFailed(m_host.m_vTx.size());
        else if (strStep == "refuse")
            m_host.m_bRefuseWrites = true;
        else if (strStep == "close")
            m_engine.OnPortClosed();
        else if (strStep == "down")
            Down(strPath);
        else if (strStep == "id" || strStep == "id0")
            Feed(Ident(strStep == "id" ? "ID" : std::string("\0VISIBLE", 8)));
        else if (strStep == "P" || strStep == "x")
            Feed({ static_cast<unsigned char>(strStep[0]) });
        else
            Feed({ static_cast<unsigned char>(std::stoi(strStep, nullptr, 16)) });
    }

    std::vector<CBytes> vFrames;
    for (size_t k : c.vFrames)
        vFrames.push_back(Frame(vImage, k));
    EXPECT_EQ(FramesSent(), vFrames);
    EXPECT_EQ(m_host.m_vTx.size() - vFrames.size(), c.nPolls);
    EXPECT_EQ(LinesAfterDown(), Lines(c.strLines));
    EXPECT_EQ(std::string(m_host.m_vRaw.begin(), m_host.m_vRaw.end()), c.strRaw);
    EXPECT_EQ(
        m_host.m_vEnds.empty() ? std::nullopt : std::optional(m_host.m_vEnds.back()), c.optEnd);
    EXPECT_EQ(m_engine.m_File.IsOpen(), !c.optEnd || *c.optEnd == DownloadEnd::Abandoned);
}

const char* const g_pszDone = "ID|Handshake OK|Frame 1  OK|Frame 2  OK|DownLoad OK";

INSTANTIATE_TEST_SUITE_P(Devices, DownloadScriptTest,
    testing::Values(SScriptCase { "NoiseWhilePollingIsShownAndPollingGoesOn",
                        "tick out x 05 15 tick out P id out 05 out 05", g_pszDone, "x\x05\x15",
                        { 1, 2 }, DownloadEnd::Ok, 2 },
        SScriptCase { "PBeforeAnyPollWentOutIsNoAnswer", "P tick P out P id out 05 out 05",
            g_pszDone, "PP", { 1, 2 }, DownloadEnd::Ok },
        SScriptCase { "PInsideABannerIsNoAnswer", "tick out x P id tick out P id out 05 out 05",
            g_pszDone, "xPID" + std::string(46, '\0'), { 1, 2 }, DownloadEnd::Ok, 2 },
        SScriptCase { "IdentificationIsThe48BytesAfterP", "tick out P id0 out 05 out 05",
            "|Handshake OK|Frame 1  OK|Frame 2  OK|DownLoad OK", "", { 1, 2 }, DownloadEnd::Ok },
        SScriptCase { "AnswersBeforeTheFrameIsOutAreIgnored",
            "tick out P id 05 15 out 05 05 15 out 05", g_pszDone, "", { 1, 2 }, DownloadEnd::Ok },
        SScriptCase { "SilenceAfterTheFrameLeavesItOpen", "tick out P id out tick tick",
            "ID|Handshake OK", "", { 1 }, std::nullopt },
        SScriptCase { "FailedFrameWriteEndsIt", "tick out P id out 05 failed",
            "ID|Handshake OK|Frame 1  OK|DownLoad Failed: the port could not write frame 2", "",
            { 1, 2 }, DownloadEnd::PortFailed },
        SScriptCase { "RefusedFrameWriteEndsIt", "tick out P id out refuse 05",
            "ID|Handshake OK|Frame 1  OK|DownLoad Failed: the port did not take frame 2", "", { 1 },
            DownloadEnd::PortRefused },
        SScriptCase { "RefusedPollEndsIt", "refuse tick",
            "DownLoad Failed: the port did not take the poll", "", {}, DownloadEnd::PortRefused,
            0 },
        SScriptCase { "ClosedPortEndsIt", "tick out P id close out 05",
            "ID|Handshake OK|DownLoad Failed: the port was closed", "\x05", { 1 },
            DownloadEnd::PortClosed },
        SScriptCase { "DownAgainAbandonsAndStartsAfresh",
            "tick out P id out 05 down tick out P x x id out 05 out 05",
            "ID|Handshake OK|Frame 1  OK|DownLoad Abandoned||There are total 2 Frame|xxID|"
            "Handshake OK|Frame 1  OK|Frame 2  OK|DownLoad OK",
            "", { 1, 2, 1, 2 }, DownloadEnd::Ok, 2 }),
    [](const testing::TestParamInfo<SScriptCase>& row) { return row.param.pszName; });

TEST_F(DownloadEngineTest, TerminalShowsReceivedBytesRaw)
{
    const CBytes vBytes = { 0x00, 'a', '\r', '\n', 0xFF, 0x05, 0x15, 'P' };
    Feed(vBytes);
    EXPECT_EQ(m_host.m_vRaw, vBytes);
    EXPECT_TRUE(m_host.m_vTx.empty());
    EXPECT_TRUE(m_host.m_vLines.empty());
}

// The path is renamed over while frame 1 is out: the device must never get a mixture, and a
// success must mean the file still holds what it got. Rewrites in place, growth and shrinking
// go through brem-cli end to end. The parameter: the new file holds the same bytes.
class DownloadRenameTest : public DownloadEngineTest, public testing::WithParamInterface<bool> { };

TEST_P(DownloadRenameTest, FailsUnlessTheFileStillHoldsWhatWasSent)
{
    const CBytes vImage = Pattern(3 * 4096 + 100);
    const bool bSameBytes = GetParam();
    const std::string strPath = m_dir.Write("image.bin", vImage);
    Down(strPath);
    Handshake(Ident("ID"));
    const std::string strNew
        = m_dir.Write("image.new", bSameBytes ? vImage : Pattern(vImage.size(), 1));
    // Windows does not let a file be renamed over one that is open: the image stays as sent.
    ASSERT_EQ(rename(strNew.c_str(), strPath.c_str()) == 0, g_bOpenFilesCanBeReplaced);
    const bool bSame = bSameBytes || !g_bOpenFilesCanBeReplaced;
    for (int k = 0; k < 4; ++k) {
        Feed({ 0x05 });
        Out();
    }
    std::vector<CBytes> vFrames;
    for (size_t k = 1; k <= (bSame ? 4u : 1u); ++k)
        vFrames.push_back(Frame(vImage, k));
    EXPECT_EQ(FramesSent(), vFrames);
    EXPECT_EQ(m_host.m_vLines.back(),
        bSame ? "DownLoad OK"
              : "DownLoad Failed: the image changed during the download: " + strPath);
    EXPECT_EQ(m_host.m_vEnds, std::vector { bSame ? DownloadEnd::Ok : DownloadEnd::ImageChanged });
}

INSTANTIATE_TEST_SUITE_P(NewFile, DownloadRenameTest, testing::Bool());

// Two writes in one tick of a coarse file-system clock leave the stamp as it was: the frames
// still come from the image taken at DOWN, and the verdict reads the file again.
TEST(DownloadMemoryImage, ChangeWithinOneClockTickIsCaughtBeforeTheVerdict)
{
    CRecordingHost host;
    CMemoryImage image;
    image.m_vBytes = Pattern(2 * 4096);
    const CBytes vSent = image.m_vBytes;
    CDownloadEngine engine(host, &image);
    engine.m_strFilePath = image.m_strPath;
    engine.OnDown();
    engine.OnTimer(BREM_POLL_TIMER_ID);
    engine.OnTxEmpty(host.m_vTx.size());
    engine.OnComm('P', 1);
    for (unsigned char c : Ident("ID"))
        engine.OnComm(c, 1);
    image.Change(Pattern(2 * 4096, 9), true);
    for (int k = 0; k < 2; ++k) {
        engine.OnTxEmpty(host.m_vTx.size());
        engine.OnComm(0x05, 1);
    }
    EXPECT_EQ(host.m_vTx.back(), Frame(vSent, 2));
    EXPECT_EQ(host.m_vLines.end()[-2], "Frame 2  OK");
    EXPECT_EQ(
        host.m_vLines.back(), "DownLoad Failed: the image changed during the download: image.bin");
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

TEST_F(DownloadEngineTest, DownRefusalsAbandonThePreviousDownloadAndStartNoTimer)
{
    const std::string strGood = m_dir.Write("good.bin", Pattern(100));
    const std::string strHeld = m_dir.Write("held.bin", Pattern(100));
    const CWriter writer(strHeld);
    ASSERT_TRUE(writer.Holds());

    struct SCase {
        std::string strPath;
        int nPortOpen;
        const char* pszBox;
    };
    std::vector<SCase> cases = {
        { strGood, 0, "COM Not Open" },
        { "", 1, "File Open Error" },
        { m_dir.Path() + "/missing.bin", 1, "File Open Error" },
        { strHeld, 1, "File Open Error" },
        { m_dir.Write("empty.bin", {}), 1, "File Empty: nothing to download" },
        { m_dir.Write("huge.bin", { 'a' }, uint64_t(BREM_IMAGE_MAX) + 1), 1,
            "File Too Large: 64 MiB at most" },
    };
    // Nor may a pipe make it wait for a writer.
    for (const std::string& strPath : IrregularFiles(m_dir.Path()))
        cases.push_back({ strPath, 1, "File Open Error" });
    for (const auto& c : cases) {
        m_host = CRecordingHost();
        Down(strGood);
        m_engine.OnTimer(BREM_POLL_TIMER_ID);
        ASSERT_TRUE(m_engine.m_File.IsOpen());
        m_host.m_nPortOpen = c.nPortOpen;
        Down(c.strPath);
        EXPECT_EQ(m_host.m_vBoxes, std::vector<std::string> { c.pszBox }) << c.strPath;
        EXPECT_EQ(m_host.m_vLines.back(), "DownLoad Abandoned");
        EXPECT_FALSE(m_engine.m_File.IsOpen());
        EXPECT_FALSE(m_host.m_bTimerRunning);
        EXPECT_EQ(m_host.m_nPos, 0u);
        EXPECT_EQ(
            std::count(m_host.m_vEvents.begin(), m_host.m_vEvents.end(), "settimer 5 500"), 1);
    }
}

// A production line flashes several devices from one file at once.
TEST_F(DownloadEngineTest, DownloadsShareTheImageAndKeepWritersOut)
{
    const std::string strPath = m_dir.Write("shared.bin", Pattern(5000));
    CRecordingHost otherHost;
    CDownloadEngine other(otherHost);
    other.m_strFilePath = strPath;
    other.OnDown();
    Down(strPath);
    EXPECT_TRUE(other.m_File.IsOpen());
    EXPECT_TRUE(m_engine.m_File.IsOpen());

    EXPECT_FALSE(CWriter(strPath).Holds());
    other.OnPortClosed();
    m_engine.OnPortClosed();
    EXPECT_TRUE(CWriter(strPath).Holds());
}

// The image a station read once, handed to every download as it is.
class CReadImage : public CMemoryImage {
public:
    std::shared_ptr<const std::vector<unsigned char>> SharedBytes() const override
    {
        return m_pRead;
    }
    std::shared_ptr<const std::vector<unsigned char>> m_pRead;
};

// Two downloads on two threads, taking turns step by step: each counts its own frames and
// sends its frames from the one image read, which must still be what the file holds.
TEST(DownloadSharedImage, EnginesOnTwoThreadsCountTheirOwnFrames)
{
    const CBytes vImage = Pattern(3 * 4096 + 7);
    const auto pRead = std::make_shared<const CBytes>(vImage);
    std::mutex mutex;
    std::condition_variable cvTurn;
    int nTurn = 0;
    struct SDevice {
        CRecordingHost host;
        CReadImage image;
        std::optional<CDownloadEngine> engine;
    } devices[2];
    auto run = [&](int nMe) {
        SDevice& dev = devices[nMe];
        dev.image.m_vBytes = vImage;
        dev.image.m_pRead = pRead;
        dev.engine.emplace(dev.host, &dev.image);
        CDownloadEngine& engine = *dev.engine;
        std::vector<std::function<void()>> steps = {
            [&] {
                engine.m_strFilePath = dev.image.m_strPath;
                engine.OnDown();
                engine.OnTimer(BREM_POLL_TIMER_ID);
                engine.OnTxEmpty(dev.host.m_vTx.size());
                engine.OnComm('P', 1);
            },
            [&] {
                for (unsigned char c : Ident("ID" + std::to_string(nMe)))
                    engine.OnComm(c, 1);
            },
        };
        const std::function<void()> fnAck = [&] {
            engine.OnTxEmpty(dev.host.m_vTx.size());
            engine.OnComm(0x05, 1);
        };
        steps.insert(steps.end(), 4, fnAck);
        for (const auto& fnStep : steps) {
            std::unique_lock<std::mutex> lock(mutex);
            cvTurn.wait(lock, [&] { return nTurn % 2 == nMe; });
            fnStep();
            ++nTurn;
            cvTurn.notify_all();
        }
    };
    std::thread other(run, 1);
    run(0);
    other.join();

    for (int i = 0; i < 2; ++i) {
        const CRecordingHost& host = devices[i].host;
        EXPECT_EQ(std::vector<std::string>(host.m_vLines.begin() + 1, host.m_vLines.end()),
            (std::vector<std::string> { "There are total 4 Frame", "ID" + std::to_string(i),
                "Handshake OK", "Frame 1  OK", "Frame 2  OK", "Frame 3  OK", "Frame 4  OK",
                "DownLoad OK" }));
        EXPECT_EQ(host.m_vTx.back(), Frame(vImage, 4));
    }

    // The file was rebuilt after it was read: nothing goes out.
    SDevice& dev = devices[0];
    dev.image.Change(Pattern(vImage.size(), 5), false);
    dev.engine->OnDown();
    EXPECT_EQ(
        dev.host.m_vBoxes, std::vector<std::string> { "File Changed While Reading: try again" });
    EXPECT_FALSE(dev.engine->Downloading());
}

TEST_F(DownloadEngineTest, DownLogsHeaderTextOfBytes3To50)
{
    const std::string strAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string strLong = strAlphabet + strAlphabet + strAlphabet;
    const std::pair<std::string, std::string> cases[] = { { "abc", "" }, { "abcd", "d" },
        { std::string("xyzHi\0Wo", 8), "Hi" }, { "xyz" + strLong, strLong.substr(0, 48) } };
    for (const auto& [strImage, strHeader] : cases) {
        m_host = CRecordingHost();
        // A file of its own each: the one before is still open, and on Windows kept as it is.
        Down(m_dir.Write(
            std::to_string(strImage.size()) + ".bin", CBytes(strImage.begin(), strImage.end())));
        ASSERT_GE(m_host.m_vLines.size(), 2u);
        EXPECT_EQ(m_host.m_vLines.end()[-2], strHeader);
    }
}

} // namespace
