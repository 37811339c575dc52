// brem-sim as a separate process, with this test as the host on the other end of its pty.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto g_deadline = std::chrono::seconds(10);

int MsLeft(Clock::time_point tEnd)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// Reads up to nCount bytes, waiting until they are all there or the deadline passes.
std::string ReadFor(int h, size_t nCount, Clock::time_point tEnd)
{
    std::string str;
    while (str.size() < nCount) {
        pollfd pfd { h, POLLIN, 0 };
        const int n = poll(&pfd, 1, MsLeft(tEnd));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        char ab[8192];
        const ssize_t nRead = read(h, ab, std::min(sizeof(ab), nCount - str.size()));
        if (nRead < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (nRead <= 0)
            break;
        str.append(ab, size_t(nRead));
    }
    return str;
}

class CSimProcess {
public:
    ~CSimProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_hOut >= 0)
            close(m_hOut);
    }

    // Starts brem-sim and returns the first line it prints (its device path).
    std::string Start(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = { BREM_SIM_PATH };
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& str : all)
            argv.push_back(str.data());
        argv.push_back(nullptr);
        int ahPipe[2];
        if (pipe2(ahPipe, O_CLOEXEC) != 0)
            return "";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ahPipe[1], 1);
        const int nErr = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(ahPipe[1]);
        m_hOut = ahPipe[0];
        if (nErr != 0) {
            m_pid = -1;
            return "";
        }
        const auto tEnd = Clock::now() + g_deadline;
        while (m_strOut.find('\n') == std::string::npos) {
            const std::string str = ReadFor(m_hOut, 1, tEnd);
            if (str.empty())
                break;
            m_strOut += str;
        }
        const size_t nEol = m_strOut.find('\n');
        if (nEol == std::string::npos)
            return "";
        std::string strLine = m_strOut.substr(0, nEol);
        m_strOut.erase(0, nEol + 1);
        return strLine;
    }

    // Waits for the process to end (after an optional signal); returns its exit status and
    // leaves what it printed in Out().
    int Finish(int nSignal = 0)
    {
        if (nSignal != 0)
            kill(m_pid, nSignal);
        const auto tEnd = Clock::now() + g_deadline;
        for (;;) {
            const std::string str = ReadFor(m_hOut, 4096, tEnd);
            if (str.empty())
                break;
            m_strOut += str;
        }
        if (MsLeft(tEnd) == 0)
            kill(m_pid, SIGKILL);
        int nStatus = 0;
        waitpid(m_pid, &nStatus, 0);
        m_pid = -1;
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    const std::string& Out() const { return m_strOut; }

private:
    pid_t m_pid = -1;
    int m_hOut = -1;
    std::string m_strOut;
};

std::string TempPath(const char* pszName)
{
    const char* pszDir = std::getenv("TMPDIR");
    return std::string(pszDir ? pszDir : "/tmp") + "/brem-simtest-" + std::to_string(getpid()) + "-"
        + pszName;
}

std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

TEST(SimProcess, AbcDownloadThroughLink)
{
    const std::string strOut = TempPath("abc.bin");
    const std::string strLink = TempPath("link");
    CSimProcess sim;
    const std::string strDevice = sim.Start({ "--out", strOut, "--link", strLink, "--once" });
    ASSERT_FALSE(strDevice.empty());
    const int h = OpenHost(strLink);
    ASSERT_GE(h, 0);
    const auto tEnd = Clock::now() + g_deadline;

    Send(h, "P");
    EXPECT_EQ(ReadFor(h, g_strDefaultAnswer.size(), tEnd), g_strDefaultAnswer);
    Send(h, g_strAbc);
    EXPECT_EQ(ReadFor(h, 1, tEnd), "\x05");

    EXPECT_EQ(sim.Finish(), 0);
    close(h);
    EXPECT_EQ(ReadFile(strOut), "abc");
    EXPECT_NE(sim.Out().find("brem-sim: downloads=1 frames_accepted=1 frames_refused=0 bytes=3 "
                             "image=ok crc32=352441c2 "),
        std::string::npos)
        << sim.Out();
    EXPECT_NE(access(strLink.c_str(), F_OK), 0) << "the link outlives the simulator";
    unlink(strOut.c_str());
}

TEST(SimProcess, HangupAfterFrameClosesTheLine)
{
    CSimProcess sim;
    const std::string strDevice = sim.Start({ "--hangup-after", "1", "--ident", "X" });
    ASSERT_FALSE(strDevice.empty());
    const int h = OpenHost(strDevice);
    ASSERT_GE(h, 0);
    const auto tEnd = Clock::now() + g_deadline;

    Send(h, "P");
    EXPECT_EQ(ReadFor(h, 49, tEnd), "PX" + std::string(47, '\0'));
    std::string strFrame = "\x06\x02\x10";
    strFrame += '\0';
    strFrame += std::string(4096, 'a') + '\0' + '\x17';
    Send(h, strFrame);
    EXPECT_EQ(ReadFor(h, 1, tEnd), "\x05");
    // Then the line goes dead: end of file or EIO, not a time-out.
    pollfd pfd { h, POLLIN, 0 };
    ASSERT_EQ(poll(&pfd, 1, MsLeft(tEnd)), 1);
    char c = 0;
    EXPECT_LE(read(h, &c, 1), 0);
    EXPECT_EQ(sim.Finish(), 0);
    close(h);
    EXPECT_NE(sim.Out().find("frames_accepted=1 "), std::string::npos) << sim.Out();
    EXPECT_NE(sim.Out().find("image=incomplete "), std::string::npos) << sim.Out();
    EXPECT_NE(sim.Out().find("exit=hangup"), std::string::npos) << sim.Out();
}

TEST(SimProcess, EchoSurvivesTheHostReopening)
{
    CSimProcess sim;
    const std::string strDevice = sim.Start({ "--echo" });
    ASSERT_FALSE(strDevice.empty());
    const auto tEnd = Clock::now() + g_deadline;
    for (const char* pszText : { "hello\r\n", "again" }) {
        const int h = OpenHost(strDevice);
        ASSERT_GE(h, 0);
        Send(h, pszText);
        EXPECT_EQ(ReadFor(h, std::string(pszText).size(), tEnd), pszText);
        close(h);
    }
    EXPECT_EQ(sim.Finish(SIGTERM), 0);
    EXPECT_NE(sim.Out().find("brem-sim: downloads=0 "), std::string::npos) << sim.Out();
}

std::string FullFrame(char c, bool bFirst)
{
    std::string str = bFirst ? "\x06" : "";
    str += std::string("\x02\x10\x00", 3) + std::string(4096, c) + '\0' + '\x17';
    return str;
}

struct ExchangeCase {
    const char* m_pszName;
    std::vector<std::string> m_args;
    std::vector<std::pair<std::string, std::string>> m_steps; // host sends, device answers
    const char* m_pszSummary;
};

void PrintTo(const ExchangeCase& c, std::ostream* pOut)
{
    *pOut << c.m_pszName;
}

class SimProcessExchange : public testing::TestWithParam<ExchangeCase> { };

TEST_P(SimProcessExchange, AnswersByteForByte)
{
    const ExchangeCase& c = GetParam();
    CSimProcess sim;
    const std::string strDevice = sim.Start(c.m_args);
    ASSERT_FALSE(strDevice.empty());
    const int h = OpenHost(strDevice);
    ASSERT_GE(h, 0);
    const auto tEnd = Clock::now() + g_deadline;
    for (const auto& step : c.m_steps) {
        Send(h, step.first);
        EXPECT_EQ(ReadFor(h, step.second.size(), tEnd), step.second);
    }
    EXPECT_EQ(sim.Finish(SIGTERM), 0);
    close(h);
    EXPECT_NE(sim.Out().find(c.m_pszSummary), std::string::npos) << sim.Out();
}

const std::string g_strZeroIdentAnswer
    = std::string("\x0b\x54P\x00\xff\x50", 6) + std::string(45, '\0');

INSTANTIATE_TEST_SUITE_P(Options, SimProcessExchange,
    testing::Values(
        ExchangeCase { "NoiseThenIdentStartingWithZero",
            { "--noise", "2", "--ident-hex", "00ff50" },
            { { "P", g_strZeroIdentAnswer }, { "P", "P" + g_strZeroIdentAnswer.substr(3) } },
            "downloads=0 " },
        ExchangeCase { "RefusalAfterOneFrame", { "--refuse", "2" },
            { { "P", g_strDefaultAnswer }, { FullFrame('a', true), "\x05" },
                { FullFrame('b', false), "\x15" } },
            "frames_accepted=1 frames_refused=1 bytes=4096 image=refused " },
        ExchangeCase { "PacedAbc", { "--baud", "115200", "--stats" },
            { { "P", g_strDefaultAnswer }, { g_strAbc, "\x05" } },
            "bytes=3 image=ok crc32=352441c2 " },
        ExchangeCase { "SecondDownloadAfterFullFrames", {},
            { { "P", g_strDefaultAnswer }, { FullFrame('a', true), "\x05" },
                { "P", g_strDefaultAnswer }, { g_strAbc, "\x05" } },
            "downloads=2 frames_accepted=2 frames_refused=0 bytes=3 image=ok " }),
    [](const testing::TestParamInfo<ExchangeCase>& row) { return row.param.m_pszName; });

TEST(SimProcess, MisuseExitsWithTwo)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>> {
             { "--refuse", "x" }, { "--ident", std::string(49, 'a') }, { "--ident-hex", "5" },
             { "--flood-kind", "words" }, { "--baud" }, { "--frobnicate" } }) {
        CSimProcess sim;
        EXPECT_EQ(sim.Start(args), "");
        EXPECT_EQ(sim.Finish(), 2) << args[0];
    }
}

} // namespace
