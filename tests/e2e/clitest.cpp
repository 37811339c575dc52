// The command-line downloader's pieces that need no device.
#include "clioptions.h"
#include "eventloop.h"
#include "faketree.h"
#include "harmlesstext.h"
#include "portlisting.h"
#include "progressmeter.h"
#include "reportfile.h"
#include "stationdisplay.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tuple>

namespace {

// Arguments end up in paths and in the port's line settings: anything odd is refused whole.
TEST(CliOptions, RefusesUnsafeOrOutOfRangeArguments)
{
    const std::vector<std::string> refused[] = {
        { "--port", "COM0", "a.bin" },
        { "--port", "COM21", "a.bin" },
        { "--port", "COM1x", "a.bin" },
        { "--port", "ttyS0;reboot", "a.bin" },
        { "--port", "..", "a.bin" },
        { "--baud", "0", "a.bin" },
        { "--baud", "-9600", "a.bin" },
        { "--baud", "99999999999", "a.bin" },
        { "--timeout", "0", "a.bin" },
        { "--timeout", "nan", "a.bin" },
        { "--timeout", "1e300", "a.bin" },
        { "--timeout", "5s", "a.bin" },
        { "a.bin", "--port" },
        { "a.bin", "b.bin" },
        { "--port", "all", "--port", "COM1", "a.bin" },
        { "--port", "COM1", "--port", "COM1", "a.bin" },
        { "--watch=yes", "a.bin" },
        { "--report=", "a.bin" },
        { "--report", "a.bin" },
        {},
    };
    for (const std::vector<std::string>& args : refused) {
        CCliOptions options;
        EXPECT_FALSE(options.Parse(args)) << (args.empty() ? "" : args[args.size() - 2]);
        EXPECT_FALSE(options.m_strError.empty());
    }
    const std::vector<std::string> accepted[] = {
        { "--port", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "a.bin" },
        { "--port", "COM20", "--timeout", "2.5", "a.bin" },
        { "--list-ports" },
        { "--help" },
    };
    for (const std::vector<std::string>& args : accepted) {
        CCliOptions options;
        EXPECT_TRUE(options.Parse(args)) << args[1] << options.m_strError;
    }
    CCliOptions options;
    ASSERT_TRUE(options.Parse({ "--port=/dev/ttyUSB0", "--baud=57600", "--", "-image.bin" }))
        << options.m_strError;
    EXPECT_EQ(options.m_strPort, "/dev/ttyUSB0");
    EXPECT_EQ(options.m_nBaud, 57600u);
    EXPECT_EQ(options.m_strImage, "-image.bin");
    EXPECT_FALSE(options.Station());
}

TEST(CliOptions, LineOptionsReachTheSettingsOrAreRefused)
{
    CCliOptions options;
    ASSERT_TRUE(options.Parse({ "--baud", "74880", "--data-bits", "7", "--parity", "even",
        "--stop-bits=2", "--flow", "rtscts", "--dtr", "off", "--rts", "off", "--reset-pulse",
        "dtr=0,rts=1,wait=100,dtr=1,rts=0,wait=50,dtr=0", "a.bin" }))
        << options.m_strError;
    EXPECT_EQ(options.m_nBaud, 74880u);
    EXPECT_EQ(options.m_nDataBits, 7u);
    EXPECT_EQ(options.m_cParity, 'E');
    EXPECT_EQ(options.m_nStopBits, 2u);
    EXPECT_EQ(options.m_lineControl.eFlow, SLineControl::FLOW_RTSCTS);
    EXPECT_EQ(options.m_lineControl.nDtr, 0);
    EXPECT_FALSE(options.m_lineControl.bRts);
    ASSERT_EQ(options.m_resetPulse.size(), 7u);
    EXPECT_EQ(options.m_resetPulse[2].eKind, SPulseStep::WAIT);
    EXPECT_EQ(options.m_resetPulse[2].nValue, 100u);

    // Left alone, the line is the one it always was, with DTR as the port has it.
    CCliOptions defaults;
    ASSERT_TRUE(defaults.Parse({ "a.bin" }));
    EXPECT_EQ(std::make_tuple(defaults.m_nBaud, defaults.m_nDataBits, defaults.m_cParity,
                  defaults.m_nStopBits, defaults.m_lineControl.eFlow, defaults.m_lineControl.nDtr,
                  defaults.m_lineControl.bRts, defaults.m_resetPulse.size()),
        std::make_tuple(115200u, 8u, 'N', 1u, SLineControl::FLOW_NONE, -1, true, size_t(0)));
    for (const char* szParity : { "o", "odd", "m", "space" }) {
        CCliOptions o;
        EXPECT_TRUE(o.Parse({ "--parity", szParity, "a.bin" })) << szParity;
    }

    const std::vector<std::string> refused[] = {
        { "--baud", "12000001", "a.bin" },
        { "--data-bits", "9", "a.bin" },
        { "--data-bits", "4", "a.bin" },
        { "--parity", "x", "a.bin" },
        { "--parity", "", "a.bin" },
        { "--stop-bits", "1.5", "a.bin" },
        { "--flow", "hardware", "a.bin" },
        { "--dtr", "1", "a.bin" },
        { "--rts", "high", "a.bin" },
        { "--reset-pulse", "dtr=1;rts=0", "a.bin" },
        { "--reset-pulse", "wait=20000", "a.bin" },
        { "--reset-pulse", "", "a.bin" },
    };
    for (const std::vector<std::string>& args : refused) {
        CCliOptions o;
        EXPECT_FALSE(o.Parse(args)) << args[1];
        EXPECT_EQ(o.m_strError.rfind(args[0], 0), 0u) << o.m_strError;
    }
}

// One port keeps the single download and its log; anything more is a station's run.
TEST(CliOptions, SeveralPortsAWatchOrAReportMakeAStation)
{
    const std::pair<std::vector<std::string>, size_t> stations[] = {
        { { "--port", "COM3", "--port=ttyUSB0", "a.bin" }, 2 },
        { { "--port", "all", "a.bin" }, 0 },
        { { "--watch", "a.bin" }, 0 },
        { { "--port", "COM3", "--report", "r.jsonl", "a.bin" }, 1 },
    };
    for (const auto& [args, nPorts] : stations) {
        CCliOptions options;
        ASSERT_TRUE(options.Parse(args)) << options.m_strError;
        EXPECT_TRUE(options.Station()) << args[1];
        EXPECT_EQ(options.m_ports.size(), nPorts);
    }
}

TEST(PortListing, DevicesByNameThenWhereEachComLeads)
{
    CFakeTree tree;
    AddBench(tree);
    tree.LinkCom(3, tree.ById(FtdiAdapter().strById));
    const CPortRoots roots = tree.Roots();
    const std::string strListing = PortListing(roots);
    const std::string strDev = roots.strDev;
    const std::string strById = tree.ById(FtdiAdapter().strById);
    for (const std::string& strLine : {
             "  ttyUSB0 — FT232R USB UART (A50285BI)\n    " + strDev + "/ttyUSB0\n    " + strById,
             "  COM1  " + strDev + "/ttyS0  present: ttyS0 — built-in serial port\n",
             "  COM2  " + strDev + "/ttyS1  no UART there\n",
             "  COM3  -> " + strById + "  present: ttyUSB0 — FT232R USB UART (A50285BI)\n",
         })
        EXPECT_NE(strListing.find(strLine), std::string::npos) << strLine << "\n" << strListing;
    EXPECT_EQ(strListing.find("ttyS1 —"), std::string::npos) << strListing; // a phantom UART

    CFakeTree empty;
    EXPECT_EQ(PortListing(empty.Roots()).substr(0, 30), "Serial devices: none (an adapt");
}

TEST(HarmlessText, KeepsPrintableAsciiOnly)
{
    const std::pair<std::string, std::string> cases[] = {
        { "Handshake OK", "Handshake OK" }, { "\x1b[2J", "\\x1b[2J" },
        { std::string("a\0b", 3), "a\\x00b" }, { "\r\n\t\x7f", "\\x0d\\x0a\\x09\\x7f" },
        { "\x9b\xff", "\\x9b\\xff" }, // 8-bit CSI
        { "C:\\x1b", "C:\\\\x1b" }, // a literal backslash cannot forge an escape
    };
    for (const auto& [strIn, strOut] : cases)
        EXPECT_EQ(HarmlessText(strIn), strOut);
}

// The last frame is short: the byte count never passes the image.
TEST(ProgressMeter, CountsBytesAndRateUpToTheImageSize)
{
    CProgressMeter meter;
    meter.Start(3, 2 * 4096 + 100, 0.0);
    meter.Update(2, 2.0);
    EXPECT_EQ(meter.BytesDone(), 8192u);
    EXPECT_DOUBLE_EQ(meter.RateBytesPerSec(), 4096.0);
    meter.Update(3, 3.0);
    EXPECT_EQ(meter.BytesDone(), 8292u);
}

// Each redraw goes back up over exactly the lines drawn before, and no line may wrap, or the
// block creeps down the terminal.
TEST(LiveBlock, RedrawsInPlaceWithoutWrapping)
{
    CLiveBlock block;
    EXPECT_EQ(block.Redraw({ "a", "bbbbbbbbbb", "c" }, 6), "a\x1b[K\nbbbbb\x1b[K\nc\x1b[K\n");
    EXPECT_EQ(block.Redraw({ "x" }, 6), "\r\x1b[3Ax\x1b[K\n\x1b[J");
    EXPECT_EQ(block.Erase(), "\r\x1b[1A\x1b[J");
    EXPECT_EQ(block.Erase(), "");
    EXPECT_EQ(block.Redraw({ "y" }, 6), "y\x1b[K\n");

    // A device that acknowledges more than was sent fills the bar, no more.
    const std::string strRow
        = CStationDisplay::RowText({ "ttyUSB0", "DEV", 4, 9, 0, "sending" }, 8, 4);
    EXPECT_EQ(strRow.substr(0, 38), "ttyUSB0   DEV   [####################]");
    EXPECT_EQ(strRow.substr(strRow.size() - 8), " sending");
}

// Device text and paths need not be UTF-8: the line is still written, and the exact bytes of
// the identification are in its hex field.
TEST(ReportFile, LinesAreJsonWhateverTheBytes)
{
    SDownloadRecord record;
    record.strPort = "tty\xff";
    record.strImage = "/fw/\xc3(.bin";
    record.ident = { 'I', 0xfe, 0, 'x' };
    record.ident.resize(48, 0);
    const nlohmann::json line = nlohmann::json::parse(CReportFile::JsonLine(record));
    EXPECT_EQ(line["ident"], "I\xef\xbf\xbd");
    EXPECT_EQ(line["ident_hex"].get<std::string>().substr(0, 10), "49fe007800");
    EXPECT_EQ(line["port"], "tty\xef\xbf\xbd");
    EXPECT_TRUE(line["by_id"].is_null());
}

// A closure that posts itself again, as the port's does while a device floods it, must not
// keep the timer and the deadline from their turn: Run() returns only once both have fired.
TEST(EventLoop, TimerAndDeadlineFireWhileClosuresKeepComing)
{
    CEventLoop loop;
    std::function<void()> fnAgain = [&] { loop.Post(fnAgain); };
    loop.Post(fnAgain);
    loop.SetTimer(1, [&] {
        loop.KillTimer();
        loop.SetDeadline(CEventLoop::Clock::now(), [&] { loop.Quit(); });
    });
    loop.Run();
}

} // namespace
