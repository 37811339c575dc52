// Several brem-sim devices, each on its own pseudo-terminal, flashed by one brem-cli at once or
// as they are plugged in: what each device holds, the report, the results and the exit status.
// The Windows build runs them with brem-cli.exe under Wine, the ptys mapped as COM ports.
#include "childprocess.h"
#include "e2efiles.h"
#include "faketree.h"
#include "simsummary.h"
#include "winecli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <sstream>
#include <tuple>

using namespace std::chrono_literals;
using json = nlohmann::json;

namespace {

constexpr auto g_processTimeout = 90s;
const char* const g_szDeviceMap = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct SSim {
    CChildProcess proc;
    std::string strDevice; // the pty
    std::string strPort; // what --port names: the pty, or under Wine its COM port
    std::string strOut; // what it received
    // The device the report names: the pty, or under Wine \\.\COMn.
    std::string ReportedDevice() const { return Wine().On() ? "\\\\.\\" + strPort : strDevice; }
};

// "2024-05-31T09:12:44", now.
std::string UtcNow()
{
    const time_t nNow = time(nullptr);
    tm utc {};
    gmtime_r(&nNow, &utc);
    char sz[32];
    strftime(sz, sizeof sz, "%Y-%m-%dT%H:%M:%S", &utc);
    return sz;
}

std::vector<std::string> Lines(const std::string& strText)
{
    std::vector<std::string> lines;
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);)
        lines.push_back(strLine);
    return lines;
}

size_t LinesStartingWith(const std::string& strText, const std::string& strStart)
{
    const std::vector<std::string> lines = Lines(strText);
    return std::count_if(lines.begin(), lines.end(),
        [&](const std::string& strLine) { return strLine.rfind(strStart, 0) == 0; });
}

// The port's settings, to compare before and after, on a descriptor of the test's own.
struct SPortWitness {
    int nFd = -1;
    termios before {};

    explicit SPortWitness(const std::string& strDevice)
    {
        nFd = open(strDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(nFd, 0) << strDevice;
        EXPECT_EQ(tcgetattr(nFd, &before), 0);
    }
    ~SPortWitness()
    {
        if (nFd >= 0)
            close(nFd);
    }
    // Given back as found, and free for another program.
    void ExpectRestored() const
    {
        termios after {};
        ASSERT_EQ(tcgetattr(nFd, &after), 0);
        EXPECT_EQ(std::tie(after.c_lflag, after.c_iflag, after.c_oflag, after.c_cflag),
            std::tie(before.c_lflag, before.c_iflag, before.c_oflag, before.c_cflag));
        EXPECT_EQ(flock(nFd, LOCK_EX | LOCK_NB), 0);
        flock(nFd, LOCK_UN);
    }
};

class StationTest : public testing::Test {
protected:
    void TearDown() override
    {
        // A killed simulator would leave its COM link behind for the next test under Wine.
        for (const std::unique_ptr<SSim>& pSim : m_sims)
            StopSim(*pSim);
        for (const std::string& strPath : m_files)
            unlink(strPath.c_str());
        // The other tests of the run see the ports as the prefix maps them.
        if (!m_unmapped.first.empty())
            Reg({ "add", g_szDeviceMap, "/v", m_unmapped.first, "/t", "REG_SZ", "/d",
                m_unmapped.second, "/f" });
    }

    std::string Image(const std::string& strBytes)
    {
        m_strImage = TempPath("image-" + std::to_string(m_files.size()) + ".bin");
        std::ofstream(m_strImage, std::ios::binary) << strBytes;
        m_files.push_back(m_strImage);
        m_strImageBytes = strBytes;
        return m_strImage;
    }

    // Under Wine the simulators take COM1, COM2 and on, in the order started.
    SSim& StartSim(std::vector<std::string> options)
    {
        auto pSim = std::make_unique<SSim>();
        const unsigned nComPort = static_cast<unsigned>(m_sims.size()) + 1;
        if (Wine().On())
            options.insert(options.end(), { "--link", Wine().ComLink(nComPort) });
        pSim->strOut = TempPath("received-" + std::to_string(m_files.size()));
        m_files.push_back(pSim->strOut);
        std::vector<std::string> argv = { BREM_SIM_PATH, "--out", pSim->strOut, "--idle-ms",
            "10000", "--exit-after", "120", "--ident", "BREM-SIM" };
        argv.insert(argv.end(), options.begin(), options.end());
        EXPECT_TRUE(pSim->proc.Start(argv));
        pSim->strDevice = pSim->proc.FirstLine(10s);
        EXPECT_FALSE(pSim->strDevice.empty()) << pSim->proc.Err();
        pSim->strPort = Wine().On() ? "COM" + std::to_string(nComPort) : pSim->strDevice;
        m_sims.push_back(std::move(pSim));
        return *m_sims.back();
    }

    static std::map<std::string, std::string> StopSim(SSim& sim)
    {
        sim.proc.Signal(SIGTERM);
        sim.proc.Wait(10s);
        return SimSummary(sim.proc.Out());
    }

    // Runs brem-cli (or, as argv[0], brem-cli-tree) with the arguments, the image and a report
    // that holds strEarlier already.
    bool StartCli(const std::vector<std::string>& args, const std::string& strEarlier = "")
    {
        m_strReport = TempPath("report-" + std::to_string(m_files.size()) + ".jsonl");
        m_files.push_back(m_strReport);
        std::ofstream(m_strReport, std::ios::binary) << strEarlier;
        std::vector<std::string> argv(args.begin() + 1, args.end());
        argv.insert(argv.end(), { "--report", m_strReport, m_strImage });
        return m_cli.Start(CliCommand(args[0], argv));
    }

    int WaitCli()
    {
        const int nStatus = m_cli.Wait(g_processTimeout);
        m_cli.DropCarriageReturns();
        return nStatus;
    }

    std::vector<json> Report() const
    {
        std::vector<json> lines;
        for (const std::string& strLine : Lines(ReadFile(m_strReport)))
            lines.push_back(json::parse(strLine));
        return lines;
    }

    std::string Sha256() const
    {
        CChildProcess sum;
        EXPECT_TRUE(sum.Start({ "/usr/bin/sha256sum", m_strImage }));
        sum.Wait(10s);
        return sum.Out().substr(0, 64);
    }

    // Runs Wine's reg with the arguments; its exit status.
    static int Reg(const std::vector<std::string>& args)
    {
        CChildProcess reg;
        std::vector<std::string> argv = { Wine().strRun, "reg" };
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_TRUE(reg.Start(argv));
        return reg.Wait(30s);
    }

    std::vector<std::unique_ptr<SSim>> m_sims;
    CChildProcess m_cli;
    std::pair<std::string, std::string> m_unmapped; // a device map entry to put back, its port
    std::string m_strImage;
    std::string m_strImageBytes;
    std::string m_strReport;
    std::vector<std::string> m_files;
};

// The report's lines follow what it held, each with the times of its download.
TEST_F(StationTest, EveryDeviceGetsTheImageAtOnce)
{
    Image(RandomBytes(64 * 4096 + 10, 31));
    std::vector<std::string> args = { BREM_CLI_PATH, "--timeout", "10" };
    for (int i = 0; i < 4; ++i)
        args.insert(args.end(), { "--port", StartSim({}).strPort });
    const std::string strBefore = UtcNow();
    ASSERT_TRUE(StartCli(args, "{\"earlier\":1}\n"));
    ASSERT_EQ(WaitCli(), 0) << m_cli.Err();
    const std::string strAfter = UtcNow();

    std::vector<json> report = Report();
    ASSERT_EQ(report.size(), 5u) << ReadFile(m_strReport);
    EXPECT_EQ(report.front(), json::parse("{\"earlier\":1}"));
    report.erase(report.begin());
    for (const json& line : report) {
        const std::string strStarted = line["started"], strEnded = line["ended"];
        EXPECT_EQ(strStarted.size(), 24u);
        EXPECT_EQ(strStarted.back(), 'Z');
        EXPECT_LE(strBefore, strStarted.substr(0, 19));
        EXPECT_LE(strStarted, strEnded);
        EXPECT_LE(strEnded.substr(0, 19), strAfter);
    }
    for (size_t i = 0; i < m_sims.size(); ++i) {
        SSim& sim = *m_sims[i];
        EXPECT_EQ(StopSim(sim)["downloads"], "1");
        EXPECT_EQ(ReadFile(sim.strOut), m_strImageBytes);
        EXPECT_EQ(LinesStartingWith(m_cli.Out(), sim.strPort + "  ok  "), 1u) << m_cli.Out();
        EXPECT_EQ(report[i]["status"], 0);
        EXPECT_EQ(report[i]["outcome"], "DownLoad OK");
        EXPECT_EQ(report[i]["frames_acked"], 65);
    }
    EXPECT_EQ(
        LastLine(m_cli.Err()), "brem-cli: 4 devices: 4 hold the image, 0 failed; exit status 0");
}

struct SDeviceCase {
    const char* pszName;
    std::vector<std::string> simOptions;
    int nStatus;
    const char* pszOutcome; // its start
    int nAcked;
    const char* pszIdent;
};

// Devices that fail in every way beside ones that do not: each failure is its own, the others
// finish without waiting for the silent one and hold the exact image.
TEST_F(StationTest, OneDevicesFailureIsItsOwn)
{
    const SDeviceCase cases[] = {
        { "polite", {}, 0, "DownLoad OK", 6, "BREM-SIM" },
        // Not UTF-8, and an escape that would clear a terminal.
        { "raw identification", { "--ident-hex", "ff1b5b324a00414243" }, 0, "DownLoad OK", 6,
            "\xef\xbf\xbd\x1b[2J" },
        { "refuses frame 3", { "--refuse", "3" }, 1, "CheckSum Error", 2, "BREM-SIM" },
        { "silent after frame 2", { "--stop-after", "2" }, 5,
            "DownLoad Failed: no answer to frame 3 within 4 s", 2, "BREM-SIM" },
        { "unplugged after frame 2", { "--hangup-after", "2" }, 3,
            "DownLoad Failed: the port failed: ", 2, "BREM-SIM" },
    };
    Image(RandomBytes(5 * 4096 + 1, 32));
    std::vector<std::string> args = { BREM_CLI_PATH, "--timeout", "4" };
    for (const SDeviceCase& c : cases)
        args.insert(args.end(), { "--port", StartSim(c.simOptions).strPort });
    ASSERT_TRUE(StartCli(args));
    EXPECT_EQ(WaitCli(), 5) << m_cli.Err();

    std::map<std::string, json> byPort;
    std::vector<std::string> order;
    for (const json& line : Report()) {
        byPort[line["port"]] = line;
        order.push_back(line["port"]);
    }
    ASSERT_EQ(byPort.size(), std::size(cases)) << ReadFile(m_strReport);
    const std::string strSha256 = Sha256();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const SDeviceCase& c = cases[i];
        SSim& sim = *m_sims[i];
        SCOPED_TRACE(c.pszName);
        StopSim(sim);
        const json& line = byPort[sim.strPort];
        EXPECT_EQ(line["status"], c.nStatus);
        EXPECT_EQ(line["outcome"].get<std::string>().rfind(c.pszOutcome, 0), 0u) << line;
        EXPECT_EQ(line["frames"], 6);
        EXPECT_EQ(line["frames_acked"], c.nAcked);
        EXPECT_EQ(line["ident"], c.pszIdent);
        EXPECT_EQ(line["ident_hex"].get<std::string>().size(), 96u);
        EXPECT_EQ(line["image_sha256"], strSha256);
        EXPECT_EQ(line["image_size"], m_strImageBytes.size());
        EXPECT_EQ(line["device"], sim.ReportedDevice());
        if (c.nStatus == 0) {
            EXPECT_EQ(ReadFile(sim.strOut), m_strImageBytes);
        }
        EXPECT_EQ(
            LinesStartingWith(m_cli.Out(),
                sim.strPort + "  " + (c.nStatus ? "FAILED " + std::to_string(c.nStatus) : "ok  ")),
            1u)
            << m_cli.Out();
    }
    EXPECT_EQ(byPort[m_sims[1]->strPort]["ident_hex"].get<std::string>().substr(0, 20),
        "ff1b5b324a0041424300");
    // The devices that answer are done long before the silent one's time-out.
    const auto silent = std::find(order.begin(), order.end(), m_sims[3]->strPort);
    for (int i : { 0, 1 })
        EXPECT_LT(std::find(order.begin(), order.end(), m_sims[i]->strPort), silent);
    EXPECT_EQ(m_cli.Err().find('\x1b'), std::string::npos);
    EXPECT_EQ(LastLine(m_cli.Err()),
        "brem-cli: 5 devices: 2 hold the image, 3 failed (1 refused a frame, 1 port failed, 1 "
        "silent); exit status 5");
}

// --port all takes the serial devices present as the port list sees them, adapters named.
TEST_F(StationTest, AllFlashesTheDevicesPresent)
{
    if (Wine().On())
        GTEST_SKIP() << "a device tree of the test's making: Linux only";
    Image(RandomBytes(3000, 33));
    CFakeTree tree;
    const CPortRoots roots = tree.Roots();
    std::vector<std::string> args = { BREM_CLI_TREE_PATH, roots.strSys, roots.strDev,
        roots.strPortsDir, "--port", "all", "--timeout", "10" };
    CChildProcess none;
    std::vector<std::string> noneArgs = args;
    noneArgs.push_back(m_strImage);
    ASSERT_TRUE(none.Start(noneArgs));
    EXPECT_EQ(none.Wait(g_processTimeout), 3);
    EXPECT_EQ(LastLine(none.Err()).substr(0, 40), "brem-cli: no serial device is present (a");

    CFakeTree::SUsb usb = FtdiAdapter();
    usb.strNodeTarget = StartSim({}).strDevice;
    tree.AddUsb(usb);
    CFakeTree::SUsb acm = ArduinoUno();
    acm.strNodeTarget = StartSim({}).strDevice;
    tree.AddUsb(acm);
    tree.AddUart("ttyS1", 0); // a place with no chip: not a device
    ASSERT_TRUE(StartCli(args));
    ASSERT_EQ(WaitCli(), 0) << m_cli.Err();
    const std::vector<json> report = Report();
    ASSERT_EQ(report.size(), 2u);
    std::map<std::string, json> byPort;
    for (const json& line : report)
        byPort[line["port"]] = line;
    EXPECT_EQ(byPort["ttyUSB0"]["by_id"], tree.ById(usb.strById));
    EXPECT_EQ(byPort["ttyUSB0"]["adapter_serial"], "A50285BI");
    EXPECT_EQ(byPort["ttyUSB0"]["adapter"], "FT232R USB UART (A50285BI)");
    EXPECT_EQ(byPort["ttyACM0"]["device"], tree.Dev("ttyACM0"));
    for (const auto& pSim : m_sims)
        EXPECT_EQ(ReadFile(pSim->strOut), m_strImageBytes);
}

// A station: each adapter is flashed when it appears, once, again after it was pulled and
// plugged back in; Ctrl+C in the middle of a download ends it as failed, every port restored.
TEST_F(StationTest, WatchFlashesEachPlugInOnceAndCtrlCRestoresThePorts)
{
    if (Wine().On())
        GTEST_SKIP() << "a device tree of the test's making: Linux only";
    Image(RandomBytes(5 * 4096 + 7, 34));
    CFakeTree tree;
    const CPortRoots roots = tree.Roots();
    ASSERT_TRUE(StartCli({ BREM_CLI_TREE_PATH, roots.strSys, roots.strDev, roots.strPortsDir,
        "--watch", "--timeout", "20" }));
    std::vector<std::unique_ptr<SPortWitness>> witnesses;
    auto plugIn = [&](const std::string& strName, const std::string& strSerial, SSim& sim) {
        witnesses.push_back(std::make_unique<SPortWitness>(sim.strDevice));
        CFakeTree::SUsb usb = FtdiAdapter();
        usb.strName = strName;
        usb.strBus = "1-" + strName.substr(6);
        usb.strSerial = strSerial;
        usb.strById = "usb-FTDI_FT232R_USB_UART_" + strSerial + "-if00-port0";
        usb.strNodeTarget = sim.strDevice;
        tree.AddUsb(usb);
        return usb.strById;
    };
    auto waitFor = [&](const std::string& strWhat, bool bErr, size_t nCount) {
        return m_cli.PumpUntil(
            [&] { return LinesStartingWith(bErr ? m_cli.Err() : m_cli.Out(), strWhat) >= nCount; },
            60s);
    };

    SSim& first = StartSim({});
    const std::string strFirstById = plugIn("ttyUSB0", "A1", first);
    ASSERT_TRUE(waitFor("ttyUSB0   ok", false, 1)) << m_cli.Err();
    // udev takes an adapter's by-id link away a moment before its node: the look that finds
    // the next adapter sees the first one half gone, and it is still the same plug-in.
    std::filesystem::remove(tree.ById(strFirstById));
    SSim& second = StartSim({});
    plugIn("ttyUSB1", "B2", second);
    ASSERT_TRUE(waitFor("ttyUSB1   ok", false, 1)) << m_cli.Err();
    EXPECT_EQ(LinesStartingWith(m_cli.Err(), "ttyUSB0: plugged in"), 1u) << m_cli.Err();

    // Pulled out and plugged back in, now with another device behind it.
    tree.Remove("ttyUSB0", strFirstById);
    ASSERT_TRUE(waitFor("ttyUSB0: unplugged", true, 1)) << m_cli.Err();
    SSim& again = StartSim({});
    plugIn("ttyUSB0", "A1", again);
    ASSERT_TRUE(waitFor("ttyUSB0   ok", false, 2)) << m_cli.Err();

    SSim& slow = StartSim({ "--delay-ms", "1000" });
    plugIn("ttyUSB2", "C3", slow);
    ASSERT_TRUE(waitFor("ttyUSB2: \"BREM-SIM\", sending", true, 1)) << m_cli.Err();
    m_cli.Signal(SIGINT);
    EXPECT_EQ(WaitCli(), 130) << m_cli.Err();

    EXPECT_EQ(LinesStartingWith(m_cli.Out(), "ttyUSB0   ok"), 2u) << m_cli.Out();
    EXPECT_EQ(LinesStartingWith(m_cli.Out(), "ttyUSB1   ok"), 1u) << m_cli.Out();
    EXPECT_EQ(LinesStartingWith(m_cli.Out(), "ttyUSB2   FAILED 130"), 1u) << m_cli.Out();
    EXPECT_EQ(LastLine(m_cli.Err()),
        "brem-cli: ended by signal; 4 devices: 3 hold the image, 1 failed (1 interrupted); "
        "exit status 130");
    for (const auto& pWitness : witnesses)
        pWitness->ExpectRestored();
    for (SSim* pSim : { &first, &second, &again }) {
        EXPECT_EQ(StopSim(*pSim)["downloads"], "1");
        EXPECT_EQ(ReadFile(pSim->strOut), m_strImageBytes);
    }
    StopSim(slow);
    EXPECT_NE(ReadFile(slow.strOut), m_strImageBytes);

    const std::vector<json> report = Report();
    ASSERT_EQ(report.size(), 4u);
    EXPECT_EQ(report[0]["adapter_serial"], "A1");
    EXPECT_EQ(report[3]["port"], "ttyUSB2");
    EXPECT_EQ(report[3]["status"], 130);
    EXPECT_EQ(report[3]["outcome"], "DownLoad Failed: interrupted by Interrupt");
    EXPECT_LT(report[3]["frames_acked"], 6);
}

// Windows tells of ports coming and going in its device map, where a port's driver names it; a
// port taken out of it under Wine is one whose adapter was pulled. Each plug-in is flashed once,
// and Ctrl+C ends the station.
TEST_F(StationTest, WatchFollowsTheDeviceMap)
{
    if (!Wine().On())
        GTEST_SKIP() << "Windows' device map: the Windows build runs this under Wine";
    Image(RandomBytes(3 * 4096 + 5, 35));
    SSim& first = StartSim({});
    const std::string strPort = first.strPort;
    ASSERT_TRUE(StartCli({ BREM_CLI_PATH, "--watch", "--port", strPort, "--timeout", "20" }));
    const std::string strOk = strPort + std::string(8 - strPort.size(), ' ') + "  ok";
    auto waitFor = [&](const std::string& strWhat, bool bErr, size_t nCount) {
        return m_cli.PumpUntil(
            [&] {
                m_cli.DropCarriageReturns();
                return LinesStartingWith(bErr ? m_cli.Err() : m_cli.Out(), strWhat) >= nCount;
            },
            60s);
    };
    ASSERT_TRUE(waitFor(strOk, false, 1)) << m_cli.Err();
    EXPECT_EQ(StopSim(first)["downloads"], "1");
    EXPECT_EQ(ReadFile(first.strOut), m_strImageBytes);

    // Under Wine the entry of COMn is \Device\Serial<n-1>.
    m_unmapped = { "\\Device\\Serial" + std::to_string(std::stoi(strPort.substr(3)) - 1), strPort };
    ASSERT_EQ(Reg({ "delete", g_szDeviceMap, "/v", m_unmapped.first, "/f" }), 0);
    ASSERT_TRUE(waitFor(strPort + ": unplugged", true, 1)) << m_cli.Err();
    // Plugged back in, now with another device behind it.
    m_sims.pop_back();
    SSim& again = StartSim({});
    ASSERT_EQ(again.strPort, strPort);
    ASSERT_EQ(
        Reg({ "add", g_szDeviceMap, "/v", m_unmapped.first, "/t", "REG_SZ", "/d", strPort, "/f" }),
        0);
    m_unmapped = {};
    ASSERT_TRUE(waitFor(strOk, false, 2)) << m_cli.Err();
    // Every device flashed holds the image: Ctrl+C between downloads ends a station well.
    m_cli.Signal(SIGINT);
    EXPECT_EQ(WaitCli(), 0) << m_cli.Err();

    EXPECT_EQ(LinesStartingWith(m_cli.Err(), strPort + ": plugged in"), 2u) << m_cli.Err();
    EXPECT_EQ(LastLine(m_cli.Err()),
        "brem-cli: ended by signal; 2 devices: 2 hold the image, 0 failed; exit status 0");
    EXPECT_EQ(StopSim(again)["downloads"], "1");
    EXPECT_EQ(ReadFile(again.strOut), m_strImageBytes);
    EXPECT_EQ(Report().size(), 2u);
}

} // namespace
