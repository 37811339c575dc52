// The command-line downloader's pieces that need no device.
#include "clioptions.h"
#include "eventloop.h"
#include "faketree.h"
#include "harmlesstext.h"
#include "portlisting.h"
#include "progressmeter.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    std::vector<std::string> m_args;
    bool m_bOk;
    std::string m_strPort;
    unsigned m_nPortNr;
    unsigned m_nBaud;
    double m_dTimeout;
};

TEST(CliOptions, ParsesOrRefuses)
{
    const ParseCase cases[] = {
        { { "a.bin" }, true, "COM1", 1, 115200, 60 },
        { { "--port", "COM20", "--baud", "9600", "--timeout", "2.5", "a.bin" }, true, "COM20", 20,
            9600, 2.5 },
        { { "--port=/dev/ttyUSB0", "--baud=57600", "a.bin" }, true, "/dev/ttyUSB0", 0, 57600, 60 },
        { { "--", "-image.bin" }, true, "COM1", 1, 115200, 60 },
        { { "--port", "COM0", "a.bin" }, false, "", 0, 0, 0 },
        { { "--port", "COM21", "a.bin" }, false, "", 0, 0, 0 },
        { { "--port", "COM1x", "a.bin" }, false, "", 0, 0, 0 },
        { { "--port", "ttyUSB0", "a.bin" }, true, "ttyUSB0", 0, 115200, 60 },
        { { "--port", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "a.bin" }, true,
            "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 0, 115200, 60 },
        { { "--port", "ttyS0;reboot", "a.bin" }, false, "", 0, 0, 0 },
        { { "--port", "..", "a.bin" }, false, "", 0, 0, 0 },
        { { "--baud", "0", "a.bin" }, false, "", 0, 0, 0 },
        { { "--baud", "-9600", "a.bin" }, false, "", 0, 0, 0 },
        { { "--baud", "99999999999", "a.bin" }, false, "", 0, 0, 0 },
        { { "--timeout", "0", "a.bin" }, false, "", 0, 0, 0 },
        { { "--timeout", "nan", "a.bin" }, false, "", 0, 0, 0 },
        { { "--timeout", "1e300", "a.bin" }, false, "", 0, 0, 0 },
        { { "--timeout", "5s", "a.bin" }, false, "", 0, 0, 0 },
        { { "a.bin", "--port" }, false, "", 0, 0, 0 },
        { { "a.bin", "b.bin" }, false, "", 0, 0, 0 },
        { {}, false, "", 0, 0, 0 },
    };
    for (const ParseCase& c : cases) {
        CCliOptions options;
        std::string strArgs;
        for (const std::string& str : c.m_args)
            strArgs += str + " ";
        ASSERT_EQ(options.Parse(c.m_args), c.m_bOk) << strArgs << options.m_strError;
        if (!c.m_bOk) {
            EXPECT_FALSE(options.m_strError.empty()) << strArgs;
            continue;
        }
        EXPECT_EQ(options.m_strPort, c.m_strPort) << strArgs;
        EXPECT_EQ(options.m_nPortNr, c.m_nPortNr) << strArgs;
        EXPECT_EQ(options.m_nBaud, c.m_nBaud) << strArgs;
        EXPECT_DOUBLE_EQ(options.m_dTimeoutSec, c.m_dTimeout) << strArgs;
    }
}

TEST(CliOptions, ListPortsAndHelpNeedNoImage)
{
    CCliOptions list;
    ASSERT_TRUE(list.Parse({ "--list-ports" }));
    EXPECT_EQ(list.m_nAction, CCliOptions::ACTION_LIST_PORTS);
    CCliOptions help;
    ASSERT_TRUE(help.Parse({ "--help" }));
    EXPECT_EQ(help.m_nAction, CCliOptions::ACTION_HELP);
}

TEST(PortListing, DevicesByNameThenWhereEachComLeads)
{
    CFakeTree tree;
    AddBench(tree);
    tree.LinkCom(3, tree.ById(FtdiAdapter().strById));
    const CPortRoots roots = tree.Roots();
    const std::string strListing = PortListing(roots);
    const std::string strDev = roots.strDev;
    const std::string strHead = "Serial devices:\n"
                                "  ttyACM0 — Arduino Uno (75830333238351F0D1A1)\n"
                                "    "
        + strDev + "/ttyACM0\n    " + tree.ById(ArduinoUno().strById)
        + "\n"
          "    USB 2341:0043, Arduino (www.arduino.cc)\n"
          "  ttyS0 — built-in serial port\n"
          "    "
        + strDev + "/ttyS0\n  ttyUSB0 — FT232R USB UART (A50285BI)\n    " + strDev
        + "/ttyUSB0\n    " + tree.ById(FtdiAdapter().strById)
        + "\n"
          "    USB 0403:6001, FTDI\n"
          "COM ports (links in "
        + roots.strPortsDir + "; COMn without one is " + strDev + "/ttyS<n-1>):\n  COM1  " + strDev
        + "/ttyS0  present: ttyS0 — built-in serial port\n  COM2  " + strDev
        + "/ttyS1  no UART there\n  COM3  -> " + tree.ById(FtdiAdapter().strById)
        + "  present: ttyUSB0 — FT232R USB UART (A50285BI)\n  COM4  " + strDev + "/ttyS3";
    EXPECT_EQ(strListing.substr(0, strHead.size()), strHead) << strListing;
    EXPECT_EQ(std::count(strListing.begin(), strListing.end(), '\n'), 12 + 20) << strListing;

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

TEST(ProgressMeter, CountsBytesRateAndTenths)
{
    CProgressMeter meter;
    EXPECT_FALSE(meter.TakePlainStep());
    meter.Start(3, 2 * 4096 + 100, 0.0);
    meter.Update(2, 2.0);
    EXPECT_EQ(meter.BytesDone(), 8192u);
    EXPECT_DOUBLE_EQ(meter.RateBytesPerSec(), 4096.0);
    EXPECT_EQ(meter.BarText(10), "[######....] 2/3 frames  8192/8292 B  4.1 kB/s  0:00 left");
    EXPECT_TRUE(meter.TakePlainStep());
    EXPECT_FALSE(meter.TakePlainStep());
    // The last frame is short: the byte count never passes the image.
    meter.Update(3, 3.0);
    EXPECT_EQ(meter.BytesDone(), 8292u);
    EXPECT_TRUE(meter.TakePlainStep());
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
