// The wire capture's file and the saves that replace a file: what reaches the disk, in what
// order, and what a full, failing or slow disk does.
#include "fileops.h"
#include "recordingops.h"
#include "wirecapture.h"
#include "wireparse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

std::string ReadAll(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& strPath, const std::string& str)
{
    std::ofstream(strPath, std::ios::binary) << str;
}

// Waits, with a deadline, until fn holds.
template <class F> bool Eventually(F fn)
{
    for (auto tpEnd = std::chrono::steady_clock::now() + 10s; !fn();) {
        if (std::chrono::steady_clock::now() > tpEnd)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szDir[] = "/tmp/brem-files-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_strDir = szDir;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strDir, ec);
    }
    std::string Path(const char* sz) const { return m_strDir + "/" + sz; }
    std::string m_strDir;
};

std::string AllBytes()
{
    std::string str;
    for (int n = 0; n < 256; ++n)
        str += char(n);
    return str;
}

} // namespace

// Raw: the bytes alone, each direction where it crossed, after what the file held; handed over
// bytes reach the file while the capture runs, and a flush to the disk follows within a second.
TEST_F(FilesTest, RawAppendsTheWireInOrder)
{
    CRecordingOps ops;
    WriteAll(Path("wire.bin"), "before");
    CWireCapture capture;
    std::string strError;
    ASSERT_TRUE(capture.Start(Path("wire.bin"), CWireCapture::EFormat::Raw, strError));
    const std::string strRx = AllBytes();
    for (char c : strRx)
        capture.Received(static_cast<unsigned char>(c));
    capture.Sent(reinterpret_cast<const unsigned char*>("AT\r"), 3);
    capture.Received('!');
    capture.Flush();
    const std::string strWire = "before" + strRx + "AT\r!";
    EXPECT_TRUE(Eventually([&] { return ReadAll(Path("wire.bin")) == strWire; }));
    EXPECT_TRUE(Eventually([&] {
        const auto calls = ops.Calls();
        return std::find(calls.begin(), calls.end(), "sync " + std::to_string(strWire.size()))
            != calls.end();
    }));
    EXPECT_EQ(capture.FileSize(), strWire.size());
    capture.Stop();
    EXPECT_TRUE(capture.WaitWriter(5000));
    EXPECT_EQ(ReadAll(Path("wire.bin")), strWire);
    EXPECT_EQ(capture.TakeFailure(), "");

    std::string strRefused;
    EXPECT_FALSE(capture.Start(m_strDir, CWireCapture::EFormat::Raw, strRefused));
    EXPECT_NE(strRefused, "");
}

// Timed: one line per burst, cut where the format says, every byte value escaped and read back.
TEST_F(FilesTest, TimedBursts)
{
    int64_t nNow = 1715940903250000; // 2024-05-17 10:15:03.250 UTC
    CWireCapture capture([&nNow] { return nNow; });
    std::string strError;
    ASSERT_TRUE(capture.Start(Path("wire.txt"), CWireCapture::EFormat::Timed, strError));
    const auto rx = [&](const std::string& str) {
        for (char c : str)
            capture.Received(static_cast<unsigned char>(c));
    };
    rx("OK\r\nx");
    nNow += 1000;
    capture.Sent(reinterpret_cast<const unsigned char*>("AT\r"), 3);
    rx("A\rB");
    nNow += 5000;
    rx("p"); // 5 ms later: the same burst
    nNow += 20000;
    rx("q"); // 20 ms later: a burst of its own
    rx(std::string(300, '.'));
    const std::string strAll = AllBytes();
    rx(strAll);
    capture.Stop();
    ASSERT_TRUE(capture.WaitWriter(5000));

    const std::string strText = ReadAll(Path("wire.txt"));
    EXPECT_NE(strText.find("# Brem wire capture, started 2024-05-17 10:15:03.250, local time "
                           "(UTC+0000)"),
        std::string::npos)
        << strText;
    EXPECT_NE(strText.find("\n2024-05-17 10:15:03.250 RX \"OK\\r\\n\"\n"
                           "2024-05-17 10:15:03.250 RX \"x\"\n"
                           "2024-05-17 10:15:03.251 TX \"AT\\r\"\n"
                           "2024-05-17 10:15:03.251 RX \"A\\r\"\n"
                           "2024-05-17 10:15:03.251 RX \"Bp\"\n"
                           "2024-05-17 10:15:03.276 RX \"q...."),
        std::string::npos)
        << strText;
    const SParsedWire wire = ParseTimedWire(strText);
    EXPECT_EQ(wire.m_strError, "");
    EXPECT_EQ(wire.m_strReceived, "OK\r\nxA\rBpq" + std::string(300, '.') + strAll);
    EXPECT_EQ(wire.m_strSent, "AT\r");
    for (const auto& [bReceived, strBytes] : wire.m_vecBursts)
        EXPECT_LE(strBytes.size(), 256u);
    ASSERT_EQ(wire.m_vecNotes.size(), 2u);
    EXPECT_EQ(wire.m_vecNotes.back(), "capture ended 2024-05-17 10:15:03.276");
}

// The end of a capture flushes the file after its last write, then its folder.
TEST_F(FilesTest, EndFlushesFileThenFolder)
{
    CRecordingOps ops;
    CWireCapture capture;
    std::string strError;
    ASSERT_TRUE(capture.Start(Path("new.bin"), CWireCapture::EFormat::Raw, strError));
    capture.Sent(reinterpret_cast<const unsigned char*>("abc"), 3);
    capture.Stop();
    ASSERT_TRUE(capture.WaitWriter(5000));
    const std::vector<std::string> calls = ops.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 3], "write");
    EXPECT_EQ(calls[calls.size() - 2], "sync 3");
    EXPECT_EQ(calls.back(), "folder " + m_strDir);
}

// A full disk: the capture stops, says why once, and the file keeps what fitted; nothing waits.
TEST_F(FilesTest, FullDiskStopsOnce)
{
    CRecordingOps ops;
    ops.m_nRoom = 1000;
    CWireCapture capture;
    std::string strError;
    ASSERT_TRUE(capture.Start(Path("full.bin"), CWireCapture::EFormat::Raw, strError));
    std::string strWire;
    for (int n = 0; n < 3; ++n) {
        const std::string str(900, char('a' + n));
        capture.Sent(reinterpret_cast<const unsigned char*>(str.data()), str.size());
        capture.Flush();
        strWire += str;
    }
    ASSERT_TRUE(Eventually([&] {
        capture.Flush();
        return !capture.IsOn();
    }));
    const std::string strWhy = capture.TakeFailure();
    EXPECT_NE(strWhy.find("No space left"), std::string::npos) << strWhy;
    EXPECT_EQ(capture.TakeFailure(), "");
    EXPECT_TRUE(capture.WaitWriter(5000));
    EXPECT_EQ(ReadAll(Path("full.bin")), strWire.substr(0, 900));
}

// A disk that does not keep up: once the backlog is full the capture gives up, at once, and its
// writer finishes when the disk comes back.
TEST_F(FilesTest, SlowDiskGivesUp)
{
    CRecordingOps ops;
    ops.Hold();
    CWireCapture capture;
    std::string strError;
    ASSERT_TRUE(capture.Start(Path("slow.bin"), CWireCapture::EFormat::Raw, strError));
    const std::string strMiB(1 << 20, 'x');
    for (size_t n = 0; n <= CWireCapture::g_nMaxBacklog >> 20 && capture.IsOn(); ++n)
        capture.Sent(reinterpret_cast<const unsigned char*>(strMiB.data()), strMiB.size());
    EXPECT_FALSE(capture.IsOn());
    EXPECT_NE(capture.TakeFailure().find("does not keep up"), std::string::npos);
    ops.Release();
    EXPECT_TRUE(capture.WaitWriter(10000));
}

// A save's new file is flushed (whole) before it takes the old one's place, then the folder; if
// it cannot be flushed, the old file stays.
TEST_F(FilesTest, ReplaceFlushesBeforeRename)
{
    CRecordingOps ops;
    WriteAll(Path("log.txt"), "old");
    for (bool bFailSync : { false, true }) {
        ops.m_bFailSync = bFailSync;
        const std::string strTemp = Path("log.txt.tmp");
        const int nFd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(nFd, 0);
        ASSERT_EQ(::write(nFd, bFailSync ? "other!!" : "new log", 7), 7);
        std::string strError;
        const bool bOk = ReplaceDurably(nFd, strTemp, Path("log.txt"), strError);
        ::close(nFd);
        const std::vector<std::string> calls = ops.Calls();
        if (!bFailSync) {
            EXPECT_TRUE(bOk) << strError;
            EXPECT_EQ(calls,
                (std::vector<std::string> {
                    "sync 7", "rename " + strTemp + " " + Path("log.txt"), "folder " + m_strDir }));
            EXPECT_EQ(ReadAll(Path("log.txt")), "new log");
        } else {
            EXPECT_FALSE(bOk);
            EXPECT_NE(strError.find("flush"), std::string::npos);
            EXPECT_EQ(calls.back(), "sync 7");
            EXPECT_EQ(ReadAll(Path("log.txt")), "new log"); // as the first round left it
            ::unlink(strTemp.c_str());
        }
    }
}
