// brem-cli against brem-sim over a pseudo-terminal: what the device received, byte for byte,
// and the exit status the script would see. The Windows build runs the same cases with
// brem-cli.exe under Wine ($BREM_WINE_CLI), the pty mapped as COM5.
#include "childprocess.h"
#include "e2efiles.h"
#include "simsummary.h"
#include "winecli.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <tuple>

using namespace std::chrono_literals;

namespace {

constexpr auto g_processTimeout = 60s;

// The port the simulator's pty is mapped as under Wine (ptyhost keeps COM1 to COM4).
constexpr unsigned g_nWinePort = 5;

// One simulated device and one brem-cli run against it.
class CliE2eTest : public testing::Test {
protected:
    void TearDown() override
    {
        // A test that stopped short would leave the simulator's COM link behind (a killed
        // simulator cannot remove it) and the next one under Wine could not take COM5.
        StopSim();
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
        // No quiet on a loaded machine may pass for the end of an image of full frames: the
        // summary counts a paused download after StopSim all the same.
        std::vector<std::string> argv = { BREM_SIM_PATH, "--out", m_strSimOut, "--idle-ms", "10000",
            "--exit-after", "60", "--ident", "BREM-SIM" };
        if (Wine().On())
            options.insert(options.end(), { "--link", Wine().ComLink(g_nWinePort) });
        argv.insert(argv.end(), options.begin(), options.end());
        EXPECT_TRUE(m_sim.Start(argv));
        m_strSimDevice = m_sim.FirstLine(10s);
        EXPECT_FALSE(m_strSimDevice.empty()) << m_sim.Err();
        return Wine().On() ? "COM" + std::to_string(g_nWinePort) : m_strSimDevice;
    }

    // Starts brem-cli, or brem-cli.exe under Wine.
    bool StartCli(std::vector<std::string> args)
    {
        return m_cli.Start(CliCommand(BREM_CLI_PATH, std::move(args)));
    }

    int RunCli(std::vector<std::string> args)
    {
        EXPECT_TRUE(StartCli(std::move(args)));
        const int nStatus = m_cli.Wait(g_processTimeout);
        m_cli.DropCarriageReturns();
        return nStatus;
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
    std::string m_strSimDevice; // the pty's path
    std::string m_strSimOut;
    std::vector<std::string> m_files;
};

struct ImageCase {
    const char* m_pszName;
    size_t m_nSize;
    int m_nFrames;
    std::vector<std::string> m_simOptions = {};
    std::string m_strIdentLine = "BREM-SIM";
    std::string m_strImage = ""; // when not random bytes
    std::optional<std::string> m_optHeaderLine = std::nullopt;
    std::string m_strShown = ""; // device text shown while polling (a banner)
};

class CliImageTest : public CliE2eTest, public testing::WithParamInterface<ImageCase> { };

// Polite devices and devices that say more than they should: every one gets the exact image,
// and the log shows each frame acknowledged once.
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

    std::string strLog = "\nThere are total " + std::to_string(c.m_nFrames) + " Frame\n";
    const std::string strOut
        = m_cli.Out().substr(std::min(m_cli.Out().find('\n'), m_cli.Out().size()));
    ASSERT_EQ(strOut.substr(0, strLog.size()), strLog);
    EXPECT_NE(strOut.find(c.m_strShown), std::string::npos) << strOut;
    strLog = c.m_strIdentLine + "\nHandshake OK\n";
    for (int i = 1; i <= c.m_nFrames; ++i)
        strLog += "Frame " + std::to_string(i) + "  OK\n";
    strLog += "DownLoad OK\n";
    EXPECT_EQ(strOut.substr(strOut.size() - std::min(strOut.size(), strLog.size())), strLog);
    EXPECT_EQ(m_cli.Out().find('\x1b'), std::string::npos);
    if (c.m_optHeaderLine) {
        EXPECT_EQ(m_cli.Out().substr(0, m_cli.Out().find('\n')), *c.m_optHeaderLine);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CliImageTest,
    testing::Values(ImageCase { "OneByte", 1, 1, {}, "BREM-SIM", "", "" },
        ImageCase { "ThreeBytes", 3, 1, {}, "BREM-SIM", "", "" },
        // Frame boundaries are the engine's own tests; here the whole road, short and long.
        ImageCase { "OneMebibyte", 1 << 20, 256 },
        // Devices that say more than they should.
        ImageCase { "BannerBeforeThePollAnswer", 3 * 4096 + 5, 4,
            { "--banner", "Boot 2.1\x05\x15 ok\r\n" }, "BREM-SIM", "", std::nullopt,
            "\nBoot 2.1\\x05\\x15 ok\n" },
        ImageCase { "NoiseWithAnswerBytesBeforeThePollAnswer", 3 * 4096 + 5, 4,
            { "--noise", "300", "--noise-acks" }, "BREM-SIM", "", std::nullopt, "\\x05" },
        ImageCase { "StrayAcknowledgement", 3 * 4096, 3, { "--stray-ack", "1" } },
        // A header and an identification that would recolour a terminal or ring its bell.
        ImageCase { "DeviceTextMadeHarmless", 73, 1, { "--ident-hex", "1b5d303b7469746c6507" },
            "\\x1b]0;title\\x07", "hdr\x1b[31mred\x07\\" + std::string(60, 'x'),
            "\\x1b[31mred\\x07\\\\" + std::string(38, 'x') }),
    [](const testing::TestParamInfo<ImageCase>& row) { return row.param.m_pszName; });

struct LineCase {
    const char* m_pszName;
    std::vector<std::string> m_cliOptions;
    std::vector<std::string> m_simOptions;
    int m_nStatus;
    const char* m_pszLine; // the simulator's verdict on the line
    const char* m_pszLastErr;
    // Wine makes a rate with no name through a UART's custom divisor, which a pty has not.
    bool m_bUnderWine = true;
    // Under Wine, where it differs: ptyuart gives the pty modem lines.
    int m_nWineStatus = -1;
    const char* m_pszWineLastErr = nullptr;
};

class CliLineTest : public CliE2eTest, public testing::WithParamInterface<LineCase> { };

// The line as the options set it is the line the device finds: only then does a download
// happen, and a line set otherwise fails rather than passing off noise as a device.
TEST_P(CliLineTest, DeviceFindsTheLineAsAsked)
{
    const LineCase& c = GetParam();
    if (Wine().On() && !c.m_bUnderWine)
        GTEST_SKIP() << "a pty under Wine runs at named rates only";
    const std::string strImage = RandomBytes(2 * 4096 + 7, 19);
    const std::string strPath = Image(strImage);
    const std::string strDevice = StartSim(c.m_simOptions);
    std::vector<std::string> args = { "--port", strDevice, "--timeout", "3" };
    args.insert(args.end(), c.m_cliOptions.begin(), c.m_cliOptions.end());
    args.push_back(strPath);
    const bool bWine = Wine().On() && c.m_nWineStatus >= 0;
    const int nStatus = bWine ? c.m_nWineStatus : c.m_nStatus;
    EXPECT_EQ(RunCli(args), nStatus) << m_cli.Err();
    std::map<std::string, std::string> summary = StopSim();
    EXPECT_EQ(summary["line"], c.m_pszLine) << m_sim.Out() << m_sim.Err();
    EXPECT_NE(
        LastLine(m_cli.Err()).find(bWine ? c.m_pszWineLastErr : c.m_pszLastErr), std::string::npos)
        << m_cli.Err();
    if (nStatus == 0) {
        EXPECT_EQ(ReadFile(m_strSimOut), strImage);
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, CliLineTest,
    testing::Values(LineCase { "Fast", { "--baud", "921600" }, { "--expect-baud", "921600" }, 0,
                        "ok", "download complete" },
        LineCase { "ThreeMegabaud", { "--baud=3000000", "--flow", "rtscts" },
            { "--expect-baud", "3000000", "--expect-flow", "rtscts" }, 0, "ok",
            "download complete" },
        LineCase { "TypedRateTwoStopBitsSoftwareFlow",
            { "--baud", "250000", "--stop-bits", "2", "--flow", "xonxoff", "--parity", "even",
                "--data-bits", "7" },
            { "--expect-baud", "250000", "--expect-stop-bits", "2", "--expect-flow", "xonxoff" }, 0,
            "ok", "download complete", false },
        LineCase { "TwoStopBitsSoftwareFlow",
            { "--baud", "460800", "--stop-bits", "2", "--flow", "xonxoff" },
            { "--expect-baud", "460800", "--expect-stop-bits", "2", "--expect-flow", "xonxoff" }, 0,
            "ok", "download complete" },
        LineCase { "DefaultsAreTheUsualLine", {},
            { "--expect-baud", "115200", "--expect-stop-bits", "1", "--expect-flow", "none" }, 0,
            "ok", "download complete" },
        LineCase { "OtherRateIsSilence", { "--baud", "460800" }, { "--expect-baud", "921600" }, 5,
            "wrong", "no answer to the poll" },
        // A pty has no modem lines: the pulse cannot be played, and nothing is sent.
        LineCase { "ResetPulse", { "--reset-pulse", "dtr=0,rts=1,wait=10,dtr=1,rts=0" },
            { "--expect-baud", "115200" }, 3, "ok", "cannot play the reset pulse", true, 0,
            "download complete" }),
    [](const testing::TestParamInfo<LineCase>& row) { return row.param.m_pszName; });

struct FaultCase {
    const char* m_pszName;
    std::vector<std::string> m_simOptions;
    int m_nFrames; // 0: another program holds the port
    const char* m_pszTimeout;
    int m_nStatus;
    const char* m_pszLogEnd; // the end of stdout
    const char* m_pszLastErr;
    const char* m_pszLastErrWine = nullptr; // where Windows words it otherwise
};

class CliFaultTest : public CliE2eTest, public testing::WithParamInterface<FaultCase> { };

TEST_P(CliFaultTest, StatusAndLastLinesAgree)
{
    const FaultCase& c = GetParam();
    std::string strPath = Image(RandomBytes(c.m_nFrames ? c.m_nFrames * 4096 : 100, c.m_nStatus));
    std::string strDevice = StartSim(c.m_simOptions);
    int nFd = c.m_nFrames ? -1 : open(m_strSimDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (c.m_nFrames == 0) { // held by another program
        ASSERT_GE(nFd, 0);
        ASSERT_EQ(flock(nFd, LOCK_EX | LOCK_NB), 0);
    }
    ASSERT_TRUE(StartCli({ "--port", strDevice, "--timeout", c.m_pszTimeout, strPath }));
    // Bytes that are no step must not hold the deadline off: counted from the download's start,
    // where the deadline's clock starts (a loaded machine may take seconds to start a program
    // under Wine). The bound leaves room for a loaded machine; the figure is what counts.
    const bool bStarted = c.m_nFrames > 0
        && m_cli.PumpUntil(
            [this]() { return m_cli.Out().find("There are total") != std::string::npos; },
            g_processTimeout);
    EXPECT_EQ(bStarted, c.m_nFrames > 0) << m_cli.Err();
    const auto tpStart = std::chrono::steady_clock::now();
    EXPECT_EQ(m_cli.Wait(g_processTimeout), c.m_nStatus) << m_cli.Err();
    m_cli.DropCarriageReturns();
    const double dSeconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - tpStart).count();
    if (bStarted) {
        RecordProperty("seconds", std::to_string(dSeconds));
        EXPECT_LT(dSeconds, std::stod(c.m_pszTimeout) + 5);
    }
    if (nFd >= 0)
        close(nFd);
    StopSim();
    const std::string strEnd = c.m_pszLogEnd;
    EXPECT_EQ(m_cli.Out().substr(m_cli.Out().size() - std::min(m_cli.Out().size(), strEnd.size())),
        strEnd);
    const char* szLastErr = Wine().On() && c.m_pszLastErrWine ? c.m_pszLastErrWine : c.m_pszLastErr;
    EXPECT_NE(LastLine(m_cli.Err()).find(szLastErr), std::string::npos) << m_cli.Err();
    EXPECT_EQ(m_cli.Out().find("DownLoad OK"), std::string::npos);
}

// A timeout long enough that a loaded machine still sees the first answer within it.
INSTANTIATE_TEST_SUITE_P(Devices, CliFaultTest,
    testing::Values(FaultCase { "RefusedFrame", { "--refuse", "3" }, 5, "10", 1,
                        "Frame 2  OK\nCheckSum Error\n", "frame 3 refused" },
        FaultCase { "Silent", { "--mute" }, 1, "0.8", 5, "There are total 1 Frame\n",
            "no answer to the poll within 0.8 s" },
        FaultCase { "StopsAnswering", { "--stop-after", "2" }, 6, "1.5", 5, "Frame 2  OK\n",
            "no answer to frame 3 within 1.5 s; the device sent 0 other bytes" },
        FaultCase { "NoiseWithoutAnyP",
            { "--mute", "--flood", "1000000000000", "--flood-kind", "noise" }, 1, "1", 5, "",
            "no answer to the poll within 1 s; the device sent" },
        FaultCase { "TrickleWhilePolling", { "--mute", "--trickle", "100" }, 1, "1", 5,
            "There are total 1 Frame\n", "no answer to the poll within 1 s; the device sent" },
        FaultCase { "GarbageAfterAFrame", { "--garbage-after", "2" }, 6, "1", 5, "Frame 1  OK\n",
            "no answer to frame 2 within 1 s; the device sent" },
        FaultCase { "TrickleAfterAFrame", { "--stop-after", "2", "--trickle", "100" }, 6, "1", 5,
            "Frame 2  OK\n", "no answer to frame 3 within 1 s; the device sent" },
        FaultCase {
            "Unplugged", { "--hangup-after", "2" }, 6, "10", 3, "Frame 2  OK\n", "port failed" },
        // The holder is named, this test program being the one with the lock; Windows does not
        // tell who holds a port.
        FaultCase { "PortHeld", {}, 0, "10", 3, "", " is in use by e2e_tests (pid ",
            "COM5 is in use by another program" }),
    [](const testing::TestParamInfo<FaultCase>& row) { return row.param.m_pszName; });

struct ChangeCase {
    const char* m_pszName;
    off_t m_nAt; // where m_strBytes are written
    std::string m_strBytes;
    off_t m_nCutTo; // 0: not truncated
    bool m_bSameBytes; // the file holds the image it held at the start
};

class CliImageChangeTest : public CliE2eTest, public testing::WithParamInterface<ChangeCase> { };

// The image is rebuilt while frame 3 is on its way: the device holds the exact image and the
// run succeeds, or the run fails and says the image changed. Never success with anything else.
TEST_P(CliImageChangeTest, SucceedsOnlyWithTheExactImage)
{
    const ChangeCase& c = GetParam();
    const std::string strImage = RandomBytes(8 * 4096, 21);
    const std::string strPath = Image(strImage);
    const std::string strDevice = StartSim({ "--delay-ms", "150" });
    ASSERT_TRUE(m_cli.Start({ BREM_CLI_PATH, "--port", strDevice, "--timeout", "10", strPath }));
    ASSERT_TRUE(m_cli.PumpUntil(
        [this]() { return m_cli.Out().find("Frame 2  OK") != std::string::npos; }, 20s));
    if (c.m_nCutTo) {
        ASSERT_EQ(truncate(strPath.c_str(), c.m_nCutTo), 0);
    } else {
        std::fstream file(strPath, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(file.seekp(c.m_nAt).write(c.m_strBytes.data(), c.m_strBytes.size()).flush());
    }
    const int nStatus = m_cli.Wait(g_processTimeout);
    StopSim();

    if (c.m_bSameBytes) {
        EXPECT_EQ(nStatus, 0) << m_cli.Err();
        EXPECT_EQ(ReadFile(m_strSimOut), strImage);
    } else {
        EXPECT_EQ(nStatus, 4) << m_cli.Err();
        EXPECT_EQ(
            LastLine(m_cli.Err()), "brem-cli: the image changed during the download: " + strPath);
        EXPECT_NE(m_cli.Out().find("DownLoad Failed: the image changed during the download"),
            std::string::npos);
        EXPECT_EQ(m_cli.Out().find("DownLoad OK"), std::string::npos);
        EXPECT_NE(ReadFile(m_strSimOut), ReadFile(strPath));
    }
}

INSTANTIATE_TEST_SUITE_P(Rebuilds, CliImageChangeTest,
    testing::Values(ChangeCase { "InPlace", 0, RandomBytes(8 * 4096, 22), 0, false },
        ChangeCase { "Grown", 8 * 4096, "more", 0, false },
        ChangeCase { "Shrunk", 0, "", 5000, false },
        // A build that writes the same bytes again moves the file's times, not its content.
        ChangeCase { "WrittenAgainWithTheSameBytes", 0, RandomBytes(8 * 4096, 21), 0, true }),
    [](const testing::TestParamInfo<ChangeCase>& row) { return row.param.m_pszName; });

struct EndCase {
    const char* m_pszName;
    int m_nSignal; // 0: the reader of stdout goes away
    std::vector<std::string> m_simOptions;
    int m_nStatus;
    const char* m_pszLastErr;
};

class CliEndTest : public CliE2eTest, public testing::WithParamInterface<EndCase> { };

// However the run is ended, the port is given back as it was found.
TEST_P(CliEndTest, ClosesThePortAndRestoresIt)
{
    const EndCase& c = GetParam();
    std::string strPath = Image(RandomBytes(4 * 4096, 6));
    std::string strDevice = StartSim(c.m_simOptions);
    int nFd = open(m_strSimDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(nFd, 0);
    termios before {};
    ASSERT_EQ(tcgetattr(nFd, &before), 0);

    ASSERT_TRUE(m_cli.Start({ BREM_CLI_PATH, "--port", strDevice, "--timeout", "30", strPath }));
    ASSERT_TRUE(m_cli.PumpUntil(
        [this]() { return m_cli.Out().find("There are total") != std::string::npos; }, 10s));
    if (c.m_nSignal)
        m_cli.Signal(c.m_nSignal);
    else
        m_cli.CloseOut();
    EXPECT_EQ(m_cli.Wait(10s), c.m_nStatus) << m_cli.Err();
    EXPECT_NE(LastLine(m_cli.Err()).find(c.m_pszLastErr), std::string::npos) << m_cli.Err();

    termios after {};
    ASSERT_EQ(tcgetattr(nFd, &after), 0);
    EXPECT_EQ(std::tie(after.c_lflag, after.c_iflag, after.c_oflag, after.c_cflag),
        std::tie(before.c_lflag, before.c_iflag, before.c_oflag, before.c_cflag));
    // Released: another program may take the port now.
    EXPECT_EQ(flock(nFd, LOCK_EX | LOCK_NB), 0);
    close(nFd);
    StopSim();
}

INSTANTIATE_TEST_SUITE_P(Ends, CliEndTest,
    testing::Values(EndCase { "Interrupt", SIGINT, { "--mute" }, 130, "interrupted" },
        EndCase { "Terminate", SIGTERM, { "--mute" }, 143, "interrupted" },
        EndCase { "HangUp", SIGHUP, { "--mute" }, 129, "interrupted" },
        EndCase { "Quit", SIGQUIT, { "--mute" }, 131, "interrupted" },
        // brem-cli ... | head -2: the next line written finds nobody reading.
        EndCase { "StdoutClosed", 0, { "--delay-ms", "200" }, 141, "stdout was closed" }),
    [](const testing::TestParamInfo<EndCase>& row) { return row.param.m_pszName; });

// The log goes nowhere: the device still gets its image, and the status says the log is lost.
TEST_F(CliE2eTest, UnwritableLogMakesTheStatusNonZero)
{
    const std::string strImage = RandomBytes(5000, 9);
    const std::string strPath = Image(strImage);
    const std::string strDevice = StartSim({});
    ASSERT_TRUE(m_cli.Start({ "/bin/sh", "-c", "exec \"$0\" --port \"$1\" \"$2\" >/dev/full",
        BREM_CLI_PATH, strDevice, strPath }));
    EXPECT_EQ(m_cli.Wait(g_processTimeout), 6) << m_cli.Err();
    StopSim();
    EXPECT_NE(m_cli.Err().find("brem-cli: cannot write the log to stdout"), std::string::npos);
    EXPECT_NE(
        LastLine(m_cli.Err()).find("the log could not be written to stdout"), std::string::npos)
        << m_cli.Err();
    EXPECT_EQ(ReadFile(m_strSimOut), strImage);
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
    const char* m_pszLastLineWine = nullptr; // where Windows words it otherwise
};

class CliRefusedRunTest : public CliE2eTest, public testing::WithParamInterface<RefusedRunCase> { };

// Runs that must end before the port is touched: the port named does not exist, so a run that
// tried it ends with status 3 (the last row).
TEST_P(CliRefusedRunTest, StopsBeforeThePort)
{
    const RefusedRunCase& c = GetParam();
    std::vector<std::string> args = { "--port", Wine().On() ? "COM200" : "/nonexistent/brem-port" };
    for (const std::string& strArg : c.m_args)
        args.push_back(strArg[0] == '=' ? Image(strArg.substr(1)) : strArg);
    EXPECT_EQ(RunCli(args), c.m_nStatus) << m_cli.Err();
    const char* szLastLine
        = Wine().On() && c.m_pszLastLineWine ? c.m_pszLastLineWine : c.m_pszLastLine;
    EXPECT_NE(LastLine(m_cli.Err()).find(szLastLine), std::string::npos) << m_cli.Err();
    EXPECT_EQ(m_cli.Out(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CliRefusedRunTest,
    testing::Values(RefusedRunCase { "EmptyImage", { "=" }, 4, "is empty" },
        RefusedRunCase { "MissingImage", { "/nonexistent/brem.bin" }, 4, "cannot open image" },
        RefusedRunCase { "DirectoryAsImage", { "/" }, 4, "not a regular file" },
        // Every refused argument takes this road; which ones are refused is CliOptions' test.
        RefusedRunCase { "UnknownOption", { "--fast", "=firmware" }, 2, "unknown option" },
        RefusedRunCase { "MissingPort", { "=firmware" }, 3,
            "cannot open port /nonexistent/brem-port: /nonexistent/brem-port is not there; ",
            "cannot open port COM200 (\\\\.\\COM200): COM200 is not there; " }),
    [](const testing::TestParamInfo<RefusedRunCase>& row) { return row.param.m_pszName; });

// What Wine can show of the ports: those its registry maps, from the device map.
TEST_F(CliE2eTest, ListsTheComPortsWindowsKnows)
{
    if (!Wine().On())
        GTEST_SKIP() << "Windows' COM ports: the Windows build runs this under Wine";
    EXPECT_EQ(RunCli({ "--list-ports" }), 0) << m_cli.Err();
    EXPECT_NE(
        m_cli.Out().find("\n  COM5 \xe2\x80\x94 Serial4\n    \\\\.\\COM5\n"), std::string::npos)
        << m_cli.Out();
}

// An absent port is named with the ones present (COM5 leads to the simulator here).
TEST_F(CliE2eTest, AbsentComPortNamesThePortsPresent)
{
    if (!Wine().On())
        GTEST_SKIP() << "Windows' COM ports: the Windows build runs this under Wine";
    const std::string strPath = Image(RandomBytes(100, 3));
    StartSim({});
    EXPECT_EQ(RunCli({ "--port", "COM200", strPath }), 3) << m_cli.Err();
    StopSim();
    const std::string strLast = LastLine(m_cli.Err());
    EXPECT_EQ(
        strLast.find("brem-cli: cannot open port COM200 (\\\\.\\COM200): COM200 is not there; "
                     "it is unplugged, or has another number now; present: "),
        0u)
        << strLast;
    EXPECT_NE(strLast.find("COM5 \xe2\x80\x94 Serial4 (\\\\.\\COM5)"), std::string::npos)
        << strLast;
}

// Ctrl+C (SIGINT reaches a Wine program as one) ends the run as on Linux, and the port is free
// for the next program.
TEST_F(CliE2eTest, CtrlCEndsTheRunAndFreesThePort)
{
    if (!Wine().On())
        GTEST_SKIP() << "the console's Ctrl+C: the Windows build runs this under Wine";
    const std::string strPath = Image(RandomBytes(4 * 4096, 6));
    const std::string strPort = StartSim({ "--mute" });
    ASSERT_TRUE(StartCli({ "--port", strPort, "--timeout", "30", strPath }));
    ASSERT_TRUE(m_cli.PumpUntil(
        [this]() { return m_cli.Out().find("There are total") != std::string::npos; }, 10s));
    m_cli.Signal(SIGINT);
    EXPECT_EQ(m_cli.Wait(10s), 130) << m_cli.Err();
    m_cli.DropCarriageReturns();
    EXPECT_EQ(LastLine(m_cli.Err()), "brem-cli: interrupted by Ctrl+C");
    CChildProcess next;
    ASSERT_TRUE(
        next.Start(CliCommand(BREM_CLI_PATH, { "--port", strPort, "--timeout", "0.5", strPath })));
    EXPECT_EQ(next.Wait(g_processTimeout), 5) << next.Err();
    StopSim();
}

} // namespace
