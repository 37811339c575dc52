// brem-cli against brem-sim over a pseudo-terminal: what the device received, byte for byte,
// and the exit status the script would see.
#include "childprocess.h"
#include "simsummary.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <tuple>

using namespace std::chrono_literals;

namespace {

constexpr auto g_processTimeout = 60s;

std::string TempPath(const std::string& strName)
{
    return testing::TempDir() + "brem-e2e-" + std::to_string(getpid()) + "-" + strName;
}

std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string RandomBytes(size_t nCount, unsigned nSeed)
{
    std::mt19937 rng(nSeed);
    std::string str(nCount, '\0');
    for (char& c : str)
        c = static_cast<char>(rng() & 0xFF);
    return str;
}

std::string LastLine(std::string str)
{
    while (!str.empty() && str.back() == '\n')
        str.pop_back();
    return str.substr(str.rfind('\n') + 1);
}

// One simulated device and one brem-cli run against it.
class CliE2eTest : public testing::Test {
protected:
    void TearDown() override
    {
        for (const std::string& strPath : m_files)
            unlink(strPath.c_str());
    }

    std::string Image(const std::string& strBytes)
    {
        std::string strPath = TempPath("image-" + std::to_string(m_files.size()));
        std::ofstream(strPath, std::ios::binary) << strBytes;
        m_files.push_back(strPath);
        return strPath;
    }

    // Starts brem-sim with the extra options; returns its device path. It runs until StopSim:
    // ending with the download would hang up the line, and a pty hang-up can drop the last
    // acknowledgement before the host has read it.
    std::string StartSim(std::vector<std::string> options)
    {
        m_strSimOut = TempPath("received-" + std::to_string(m_files.size()));
        m_files.push_back(m_strSimOut);
        std::vector<std::string> argv = { BREM_SIM_PATH, "--out", m_strSimOut, "--idle-ms", "200",
            "--exit-after", "60", "--ident", "BREM-SIM" };
        argv.insert(argv.end(), options.begin(), options.end());
        EXPECT_TRUE(m_sim.Start(argv));
        std::string strDevice = m_sim.FirstLine(10s);
        EXPECT_FALSE(strDevice.empty()) << m_sim.Err();
        return strDevice;
    }

    int RunCli(std::vector<std::string> args)
    {
        std::vector<std::string> argv = { BREM_CLI_PATH };
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_TRUE(m_cli.Start(argv));
        return m_cli.Wait(g_processTimeout);
    }

    // Ends the simulator (it may still wait for a download) and reads its summary.
    std::map<std::string, std::string> StopSim()
    {
        m_sim.Signal(SIGTERM);
        m_sim.Wait(10s);
        return SimSummary(m_sim.Out());
    }

    CChildProcess m_sim;
    CChildProcess m_cli;
    std::string m_strSimOut;
    std::vector<std::string> m_files;
};

struct ImageCase {
    const char* m_pszName;
    size_t m_nSize;
    int m_nFrames;
    std::vector<std::string> m_simOptions = {};
    std::string m_strIdentLine = "BREM-SIM"; // noise before the poll answer shows in it
    std::string m_strImage = ""; // when not random bytes
    std::optional<std::string> m_optHeaderLine = std::nullopt;
};

class CliImageTest : public CliE2eTest, public testing::WithParamInterface<ImageCase> { };

TEST_P(CliImageTest, DeviceReceivesTheImageExactly)
{
    const ImageCase& c = GetParam();
    std::string strImage = c.m_strImage.empty()
        ? RandomBytes(c.m_nSize, static_cast<unsigned>(c.m_nSize))
        : c.m_strImage;
    std::string strPath = Image(strImage);
    std::string strDevice = StartSim(c.m_simOptions);

    ASSERT_EQ(RunCli({ "--port", strDevice, "--timeout", "10", strPath }), 0) << m_cli.Err();
    std::map<std::string, std::string> summary = StopSim();

    EXPECT_EQ(ReadFile(m_strSimOut), strImage);
    EXPECT_EQ(summary["frames_accepted"], std::to_string(c.m_nFrames)) << m_sim.Out();
    EXPECT_EQ(summary["frames_refused"], "0");
    EXPECT_NE(LastLine(m_cli.Err()).find("download complete"), std::string::npos) << m_cli.Err();

    // The window's log after the header line; a short image also logs "DownLoad OK" on sending.
    std::string strLog = "\nThere are total " + std::to_string(c.m_nFrames) + " Frame\n"
        + c.m_strIdentLine + "\nHandshake OK\n" + (c.m_nSize < 4096 ? "DownLoad OK\n" : "");
    for (int i = 1; i <= c.m_nFrames; ++i)
        strLog += "Frame " + std::to_string(i) + "  OK\n";
    strLog += "DownLoad OK\n";
    EXPECT_EQ(m_cli.Out().substr(std::min(m_cli.Out().find('\n'), m_cli.Out().size())), strLog);
    EXPECT_EQ(m_cli.Out().find('\x1b'), std::string::npos);
    if (c.m_optHeaderLine) {
        EXPECT_EQ(m_cli.Out().substr(0, m_cli.Out().find('\n')), *c.m_optHeaderLine);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CliImageTest,
    testing::Values(ImageCase { "ThreeBytes", 3, 1, {}, "BREM-SIM", "", "" },
        // Frame boundaries are the engine's own tests; here the whole road, short and long.
        ImageCase { "OneMebibyte", 1 << 20, 256 },
        ImageCase { "NoiseBeforeThePollAnswer", 3 * 4096 + 5, 4, { "--noise", "5" },
            "T\\x9d\\xe6/PBREM-SIM" },
        // A header and an identification that would recolour a terminal or ring its bell.
        ImageCase { "DeviceTextMadeHarmless", 73, 1, { "--ident-hex", "1b5d303b7469746c6507" },
            "\\x1b]0;title\\x07", "hdr\x1b[31mred\x07\\" + std::string(60, 'x'),
            "\\x1b[31mred\\x07\\\\" + std::string(38, 'x') }),
    [](const testing::TestParamInfo<ImageCase>& row) { return row.param.m_pszName; });

struct FaultCase {
    const char* m_pszName;
    std::vector<std::string> m_simOptions;
    int m_nFrames; // 0: another program holds the port
    const char* m_pszTimeout;
    int m_nStatus;
    const char* m_pszLogEnd; // the end of stdout
    const char* m_pszLastErr;
};

class CliFaultTest : public CliE2eTest, public testing::WithParamInterface<FaultCase> { };

TEST_P(CliFaultTest, StatusAndLastLinesAgree)
{
    const FaultCase& c = GetParam();
    std::string strPath = Image(RandomBytes(c.m_nFrames ? c.m_nFrames * 4096 : 100, c.m_nStatus));
    std::string strDevice = StartSim(c.m_simOptions);
    int nFd = c.m_nFrames ? -1 : open(strDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (c.m_nFrames == 0) { // held by another program
        ASSERT_GE(nFd, 0);
        ASSERT_EQ(flock(nFd, LOCK_EX | LOCK_NB), 0);
    }
    EXPECT_EQ(RunCli({ "--port", strDevice, "--timeout", c.m_pszTimeout, strPath }), c.m_nStatus)
        << m_cli.Err();
    if (nFd >= 0)
        close(nFd);
    StopSim();
    const std::string strEnd = c.m_pszLogEnd;
    EXPECT_EQ(m_cli.Out().substr(m_cli.Out().size() - std::min(m_cli.Out().size(), strEnd.size())),
        strEnd);
    EXPECT_NE(LastLine(m_cli.Err()).find(c.m_pszLastErr), std::string::npos) << m_cli.Err();
}

// A timeout long enough that a loaded machine still sees the first answer within it.
INSTANTIATE_TEST_SUITE_P(Devices, CliFaultTest,
    testing::Values(FaultCase { "RefusedFrame", { "--refuse", "3" }, 5, "10", 1,
                        "Frame 2  OK\nCheckSum Error\n", "frame 3 refused" },
        FaultCase { "Silent", { "--mute" }, 1, "0.8", 5, "There are total 1 Frame\n", "no answer" },
        FaultCase { "StopsAnswering", { "--stop-after", "2" }, 6, "1.5", 5, "Frame 2  OK\n",
            "stopped answering after frame 2" },
        FaultCase {
            "Unplugged", { "--hangup-after", "2" }, 6, "10", 3, "Frame 2  OK\n", "port failed" },
        // The holder is named, this test program being the one with the lock.
        FaultCase { "PortHeld", {}, 0, "10", 3, "", " is in use by e2e_tests (pid " }),
    [](const testing::TestParamInfo<FaultCase>& row) { return row.param.m_pszName; });

TEST_F(CliE2eTest, InterruptClosesThePortAndRestoresIt)
{
    std::string strPath = Image(RandomBytes(4096, 6));
    std::string strDevice = StartSim({ "--mute" });
    int nFd = open(strDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(nFd, 0);
    termios before {};
    ASSERT_EQ(tcgetattr(nFd, &before), 0);

    ASSERT_TRUE(m_cli.Start({ BREM_CLI_PATH, "--port", strDevice, "--timeout", "30", strPath }));
    ASSERT_TRUE(m_cli.PumpUntil(
        [this]() { return m_cli.Out().find("There are total") != std::string::npos; }, 10s));
    m_cli.Signal(SIGINT);
    EXPECT_EQ(m_cli.Wait(10s), 130) << m_cli.Err();
    EXPECT_NE(LastLine(m_cli.Err()).find("interrupted"), std::string::npos) << m_cli.Err();

    termios after {};
    ASSERT_EQ(tcgetattr(nFd, &after), 0);
    EXPECT_EQ(std::tie(after.c_lflag, after.c_iflag, after.c_oflag, after.c_cflag),
        std::tie(before.c_lflag, before.c_iflag, before.c_oflag, before.c_cflag));
    // Released: another program may take the port now.
    EXPECT_EQ(flock(nFd, LOCK_EX | LOCK_NB), 0);
    close(nFd);
    StopSim();
}

TEST_F(CliE2eTest, ComNameResolvesThroughThePortsDirectory)
{
    std::string strDir = TempPath("ports");
    ASSERT_EQ(mkdir(strDir.c_str(), 0700), 0);
    setenv("BREM_PORTS_DIR", strDir.c_str(), 1);
    std::string strImage = RandomBytes(5000, 8);
    std::string strPath = Image(strImage);
    StartSim({ "--link", strDir + "/COM3" });

    EXPECT_EQ(RunCli({ "--port", "COM3", "--timeout", "10", strPath }), 0) << m_cli.Err();
    CChildProcess list;
    ASSERT_TRUE(list.Start({ BREM_CLI_PATH, "--list-ports" }));
    EXPECT_EQ(list.Wait(10s), 0);
    StopSim();
    unsetenv("BREM_PORTS_DIR");
    unlink((strDir + "/COM3").c_str());
    rmdir(strDir.c_str());

    EXPECT_EQ(ReadFile(m_strSimOut), strImage);
    const size_t nCom3 = list.Out().find("\n  COM3  -> ");
    ASSERT_NE(nCom3, std::string::npos) << list.Out();
    const std::string strCom3
        = list.Out().substr(nCom3 + 1, list.Out().find('\n', nCom3 + 1) - nCom3 - 1);
    EXPECT_NE(strCom3.find("  present"), std::string::npos) << strCom3;
}

// As a user outside the device's group; the tests run as root, so setpriv makes one.
TEST_F(CliE2eTest, NoPermissionNamesTheGroupToJoin)
{
    const char* szSetpriv = "/usr/bin/setpriv";
    const group* pDialout = getgrnam("dialout");
    if (geteuid() != 0 || access(szSetpriv, X_OK) != 0 || !pDialout)
        GTEST_SKIP() << "needs root, setpriv and a dialout group";
    std::string strPath = Image(RandomBytes(100, 9));
    ASSERT_EQ(chmod(strPath.c_str(), 0644), 0);
    std::string strDevice = StartSim({});
    ASSERT_EQ(chown(strDevice.c_str(), 0, pDialout->gr_gid), 0);
    ASSERT_EQ(chmod(strDevice.c_str(), 0660), 0);

    ASSERT_TRUE(m_cli.Start({ szSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups",
        BREM_CLI_PATH, "--port", strDevice, strPath }));
    const int nStatus = m_cli.Wait(g_processTimeout);
    StopSim();
    if (nStatus == 126 || nStatus == 127)
        GTEST_SKIP() << "brem-cli cannot be run as nobody from here: " << m_cli.Err();
    EXPECT_EQ(nStatus, 3) << m_cli.Err();
    EXPECT_EQ(LastLine(m_cli.Err()),
        "brem-cli: cannot open port " + strDevice + ": permission denied: " + strDevice
            + " belongs to group dialout, and you are not in it; join the group: sudo usermod "
              "-aG dialout $USER; then log out and in again")
        << m_cli.Err();
}

struct RefusedRunCase {
    const char* m_pszName;
    std::vector<std::string> m_args; // "=bytes" stands for an image file of those bytes
    int m_nStatus;
    const char* m_pszLastLine;
};

class CliRefusedRunTest : public CliE2eTest, public testing::WithParamInterface<RefusedRunCase> { };

// Runs that must end before the port is touched: the port named does not exist, so a run that
// tried it ends with status 3 (the last row).
TEST_P(CliRefusedRunTest, StopsBeforeThePort)
{
    const RefusedRunCase& c = GetParam();
    std::vector<std::string> args = { "--port", "/nonexistent/brem-port" };
    for (const std::string& strArg : c.m_args)
        args.push_back(strArg[0] == '=' ? Image(strArg.substr(1)) : strArg);
    EXPECT_EQ(RunCli(args), c.m_nStatus) << m_cli.Err();
    EXPECT_NE(LastLine(m_cli.Err()).find(c.m_pszLastLine), std::string::npos) << m_cli.Err();
    EXPECT_EQ(m_cli.Out(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CliRefusedRunTest,
    testing::Values(RefusedRunCase { "EmptyImage", { "=" }, 4, "is empty" },
        RefusedRunCase { "MissingImage", { "/nonexistent/brem.bin" }, 4, "cannot open image" },
        RefusedRunCase { "DirectoryAsImage", { "/" }, 4, "not a regular file" },
        // Every refused argument takes this road; which ones are refused is CliOptions' test.
        RefusedRunCase { "UnknownOption", { "--fast", "=firmware" }, 2, "unknown option" },
        RefusedRunCase { "MissingPort", { "=firmware" }, 3,
            "cannot open port /nonexistent/brem-port: /nonexistent/brem-port is not there; " }),
    [](const testing::TestParamInfo<RefusedRunCase>& row) { return row.param.m_pszName; });

} // namespace
