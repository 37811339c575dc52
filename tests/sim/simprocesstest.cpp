// brem-sim as a separate process, with this test as the host on the other end of its pty.
#include "childprocess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Reads up to nCount bytes, waiting until they are all there or the deadline passes.
std::string ReadFor(int h, size_t nCount, Clock::time_point tEnd)
{
    std::string str;
    while (str.size() < nCount) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - Clock::now());
        pollfd pfd { h, POLLIN, 0 };
        const int n = poll(&pfd, 1, ms.count() > 0 ? int(ms.count()) : 0);
        if (n < 0 && errno == EINTR)
            continue;
        char ab[8192];
        const ssize_t nRead
            = n > 0 ? read(h, ab, std::min(sizeof(ab), nCount - str.size())) : ssize_t(-1);
        if (nRead <= 0)
            break;
        str.append(ab, size_t(nRead));
    }
    return str;
}

// Starts brem-sim and returns the first line it prints (its device path).
std::string StartSim(CChildProcess& sim, std::vector<std::string> args)
{
    args.insert(args.begin(), BREM_SIM_PATH);
    return sim.Start(args) ? sim.FirstLine(10s) : "";
}

int OpenHost(const std::string& strPath)
{
    return open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void Send(int h, const std::string& str)
{
    ASSERT_EQ(write(h, str.data(), str.size()), ssize_t(str.size()));
}

const std::string g_strDefaultAnswer
    = "P" + std::string("BREM-SIM DEMO DEVICE V1.0") + std::string(48 - 25, '\0');
const std::string g_strAbc("\x06\x02\x00\x03"
                           "abc"
                           "\x60\x03",
    9);

TEST(SimProcess, EchoSurvivesTheHostReopening)
{
    CChildProcess sim;
    const std::string strDevice = StartSim(sim, { "--echo" });
    const auto tEnd = Clock::now() + 10s;
    for (const std::string strText : { "hello\r\n", "again" }) {
        const int h = OpenHost(strDevice);
        ASSERT_GE(h, 0);
        Send(h, strText);
        EXPECT_EQ(ReadFor(h, strText.size(), tEnd), strText);
        close(h);
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(10s), 0);
    EXPECT_NE(sim.Out().find("brem-sim: downloads=0 "), std::string::npos) << sim.Out();
}

struct ExchangeCase {
    const char* m_pszName;
    std::vector<std::string> m_args;
    std::vector<std::pair<std::string, std::string>> m_steps; // host sends, device answers
    const char* m_pszSummary;
    bool m_bViaLink = false; // the host opens g_strLink; it must be gone when the simulator is
};

const std::string g_strLink
    = testing::TempDir() + "brem-simtest-" + std::to_string(getpid()) + "-link";

void PrintTo(const ExchangeCase& c, std::ostream* pOut)
{
    *pOut << c.m_pszName;
}

class SimProcessExchange : public testing::TestWithParam<ExchangeCase> { };

TEST_P(SimProcessExchange, AnswersByteForByte)
{
    const ExchangeCase& c = GetParam();
    CChildProcess sim;
    const std::string strDevice = StartSim(sim, c.m_args);
    const int h = OpenHost(c.m_bViaLink ? g_strLink : strDevice);
    ASSERT_GE(h, 0);
    const auto tEnd = Clock::now() + 10s;
    for (const auto& step : c.m_steps) {
        Send(h, step.first);
        EXPECT_EQ(ReadFor(h, step.second.size(), tEnd), step.second);
    }
    sim.Signal(SIGTERM); // (harmless when it has ended by itself)
    EXPECT_EQ(sim.Wait(10s), 0);
    close(h);
    EXPECT_NE(sim.Out().find(c.m_pszSummary), std::string::npos) << sim.Out();
    EXPECT_NE(access(g_strLink.c_str(), F_OK), 0) << "the link outlives the simulator";
}

INSTANTIATE_TEST_SUITE_P(Options, SimProcessExchange,
    testing::Values(
        ExchangeCase { "AbcThroughLinkOnce", { "--link", g_strLink, "--once" },
            { { "P", g_strDefaultAnswer }, { g_strAbc, "\x05" } },
            "downloads=1 frames_accepted=1 frames_refused=0 bytes=3 image=ok crc32=352441c2 ",
            true },
        ExchangeCase { "PacedAbc", { "--baud", "115200", "--stats" },
            { { "P", g_strDefaultAnswer }, { g_strAbc, "\x05" } },
            "bytes=3 image=ok crc32=352441c2 " },
        ExchangeCase { "TrickleOfNulsWhileMute", { "--mute", "--trickle", "10" },
            { { "P", std::string(3, '\0') } }, "downloads=0 " }),
    [](const testing::TestParamInfo<ExchangeCase>& row) { return row.param.m_pszName; });

TEST(SimProcess, MisuseExitsWithTwo)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>> {
             { "--refuse", "x" }, { "--ident", std::string(49, 'a') }, { "--ident-hex", "5" },
             { "--flood-kind", "words" }, { "--baud" }, { "--trickle", "0" },
             { "--garbage-after", "x" }, { "--frobnicate" } }) {
        CChildProcess sim;
        EXPECT_EQ(StartSim(sim, args), "");
        EXPECT_EQ(sim.Wait(10s), 2) << args[0];
    }
}

// A path that exists belongs to someone else: not even a stale link is replaced.
TEST(SimProcess, LinkOntoAnExistingPathIsRefused)
{
    const std::string strFile = g_strLink + "-file";
    const std::string strOld = g_strLink + "-old";
    ASSERT_EQ(system(("echo keep > '" + strFile + "'").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", strOld.c_str()), 0);
    for (const std::string& strPath : { strFile, strOld }) {
        CChildProcess sim;
        EXPECT_EQ(StartSim(sim, { "--link", strPath }), "");
        EXPECT_EQ(sim.Wait(10s), 1);
        EXPECT_NE(sim.Err().find("not replaced"), std::string::npos) << sim.Err();
    }
    char szTarget[64] = {};
    EXPECT_EQ(readlink(strOld.c_str(), szTarget, sizeof szTarget - 1), 12);
    EXPECT_STREQ(szTarget, "/nonexistent");
    std::string strKept;
    std::getline(std::ifstream(strFile), strKept);
    EXPECT_EQ(strKept, "keep");
    unlink(strFile.c_str());
    unlink(strOld.c_str());
}

TEST(SimProcess, EveryEndingSignalRemovesTheLink)
{
    for (const int nSignal : { SIGHUP, SIGINT, SIGQUIT, SIGTERM }) {
        CChildProcess sim;
        ASSERT_NE(StartSim(sim, { "--link", g_strLink }), "");
        ASSERT_EQ(access(g_strLink.c_str(), F_OK), 0);
        sim.Signal(nSignal);
        EXPECT_EQ(sim.Wait(10s), 0) << strsignal(nSignal);
        EXPECT_NE(access(g_strLink.c_str(), F_OK), 0) << strsignal(nSignal);
        unlink(g_strLink.c_str());
    }
}

} // namespace
