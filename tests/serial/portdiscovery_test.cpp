#include "faketree.h"
#include "openfailure.h"
#include "portdiscovery.h"
#include "portnames.h"
#include "testpty.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <tuple>

namespace {

using Fields = std::tuple<std::string, std::string, std::string, std::string, std::string,
    std::vector<std::string>>;

Fields FieldsOf(const SSerialDevice& dev)
{
    return { dev.DisplayName(), dev.strPath, dev.strById, dev.strVendorId + ":" + dev.strProductId,
        dev.strManufacturer, dev.comNames };
}

TEST(PortDiscovery, ListsTheDevicesThatAreThereByName)
{
    CFakeTree tree;
    AddBench(tree);
    tree.AddUsb({ "ttyUSB10", "1-5", "067b", "2303", "Prolific\x1b[2J",
        "USB-Serial \xc2\x9b"
        "31m\xff Controller",
        "", "" });
    tree.AddUsb({ "ttyUSB2", "1-4", "1a86", "7523", "", "", "", "" });
    // udev has not made the node yet: not there to open.
    tree.AddUsb({ "ttyUSB3", "1-6", "10c4", "ea60", "Silicon Labs", "CP2102", "0001", "" });
    std::filesystem::remove(tree.Dev("ttyUSB3"));
    tree.LinkCom(3, tree.ById(FtdiAdapter().strById));
    tree.LinkCom(7, tree.Dev("ttyUSB0"));
    tree.LinkCom(4, tree.Dev("ttyS0"));

    const std::vector<SSerialDevice> devices = DiscoverSerialDevices(tree.Roots());
    const std::vector<Fields> expected = {
        { "ttyACM0 — Arduino Uno (75830333238351F0D1A1)", tree.Dev("ttyACM0"),
            tree.ById(ArduinoUno().strById), "2341:0043", "Arduino (www.arduino.cc)", {} },
        { "ttyS0 — built-in serial port", tree.Dev("ttyS0"), "", ":", "", { "COM4" } },
        { "ttyUSB0 — FT232R USB UART (A50285BI)", tree.Dev("ttyUSB0"),
            tree.ById(FtdiAdapter().strById), "0403:6001", "FTDI", { "COM3", "COM7" } },
        { "ttyUSB2 — USB 1a86:7523", tree.Dev("ttyUSB2"), "", "1a86:7523", "", {} },
        // The device's own strings can carry terminal escapes (plain and 8-bit) and bad UTF-8.
        { "ttyUSB10 — USB-Serial ?31m? Controller", tree.Dev("ttyUSB10"), "", "067b:2303",
            "Prolific?[2J", {} },
    };
    ASSERT_EQ(devices.size(), expected.size());
    for (size_t i = 0; i < devices.size(); ++i)
        EXPECT_EQ(FieldsOf(devices[i]), expected[i]) << i;

    // Across an unplug the same adapter is known by its stable name, or its serial number.
    EXPECT_EQ(devices[2].Key(), tree.ById(FtdiAdapter().strById));
    EXPECT_EQ(devices[3].Key(), tree.Dev("ttyUSB2"));
}

TEST(PortDiscovery, NamesResolveToTheirDevices)
{
    CFakeTree tree;
    AddBench(tree);
    tree.LinkCom(3, tree.ById(FtdiAdapter().strById));
    const CPortRoots roots = tree.Roots();
    const std::string strById = tree.ById(FtdiAdapter().strById);
    const std::pair<std::string, std::string> names[] = {
        { "ttyUSB0", tree.Dev("ttyUSB0") },
        { strById, strById },
        { FtdiAdapter().strById, strById },
        { "COM3", roots.strPortsDir + "/COM3" },
        { "COM2", tree.Dev("ttyS1") },
        { "ttyUSB9", tree.Dev("ttyUSB9") },
    };
    for (const auto& [strName, strDevice] : names)
        EXPECT_EQ(ResolvePortName(strName, roots), strDevice) << strName;

    const std::vector<SSerialDevice> devices = DiscoverSerialDevices(roots);
    for (const std::string& strPath : { strById, roots.strPortsDir + "/COM3" }) {
        const SSerialDevice* pDevice = FindSerialDevice(devices, strPath);
        ASSERT_TRUE(pDevice) << strPath;
        EXPECT_EQ(pDevice->strName, "ttyUSB0");
    }
    EXPECT_FALSE(FindSerialDevice(devices, tree.Dev("ttyS1"))); // no chip there
}

// Another program with the device open, its name set as the system shows it.
class CHolder {
public:
    CHolder(const std::string& strDevice, const char* szName, bool bLock)
    {
        int aReady[2], aQuit[2];
        if (::pipe(aReady) != 0 || ::pipe(aQuit) != 0)
            throw std::runtime_error("pipe failed");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(aQuit[1]);
            ::prctl(PR_SET_NAME, szName);
            const int hFile = ::open(strDevice.c_str(), O_RDWR | O_NOCTTY);
            if (hFile >= 0 && (!bLock || ::flock(hFile, LOCK_EX | LOCK_NB) == 0))
                (void)!::write(aReady[1], "r", 1);
            char c;
            (void)!::read(aQuit[0], &c, 1);
            ::_exit(0);
        }
        ::close(aReady[1]);
        ::close(aQuit[0]);
        m_hQuit = aQuit[1];
        pollfd pfd = { aReady[0], POLLIN, 0 };
        char c = 0;
        m_bReady = ::poll(&pfd, 1, 10000) == 1 && ::read(aReady[0], &c, 1) == 1;
        ::close(aReady[0]);
    }
    ~CHolder()
    {
        ::close(m_hQuit);
        ::waitpid(m_pid, nullptr, 0);
    }
    bool Ready() const { return m_bReady; }
    int Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_hQuit = -1;
    bool m_bReady = false;
};

TEST(OpenFailure, NamesTheProgramThatHoldsThePort)
{
    const struct {
        const char* szName;
        bool bLock;
        const char* szAdvice;
    } cases[] = {
        { "ModemManager", true, "sudo systemctl stop ModemManager" },
        { "minicom", false, "quit minicom, or end it: kill " },
    };
    for (const auto& c : cases) {
        CTestPty pty;
        CHolder holder(pty.SlavePath(), c.szName, c.bLock);
        ASSERT_TRUE(holder.Ready()) << c.szName;
        const SOpenFailure failure
            = ExplainOpenFailure(pty.SlavePath(), pty.SlavePath(), EBUSY, CPortRoots());
        EXPECT_EQ(failure.strReason,
            pty.SlavePath() + " is in use by " + c.szName + " (pid " + std::to_string(holder.Pid())
                + ")");
        ASSERT_FALSE(failure.advice.empty());
        EXPECT_NE(failure.advice[0].find(c.szAdvice), std::string::npos) << failure.advice[0];
    }
}

TEST(OpenFailure, AbsentDeviceListsWhatIsThere)
{
    CFakeTree tree;
    AddBench(tree);
    const CPortRoots roots = tree.Roots();
    const std::string strById = tree.ById(FtdiAdapter().strById);
    SOpenFailure failure = ExplainOpenFailure("COM3", tree.Dev("ttyUSB1"), ENOENT, roots);
    EXPECT_EQ(failure.OneLine(),
        tree.Dev("ttyUSB1") + " is not there; it is unplugged, or has another name now; to make "
            + "COM3 reach ttyACM0: mkdir -p " + roots.strPortsDir + " && ln -sf "
            + tree.ById(ArduinoUno().strById) + " " + roots.strPortsDir
            + "/COM3; present: ttyACM0 — Arduino Uno (75830333238351F0D1A1) ("
            + tree.ById(ArduinoUno().strById) + "), ttyS0 — built-in serial port ("
            + tree.Dev("ttyS0") + "), ttyUSB0 — FT232R USB UART (A50285BI) (" + strById + ")");

    // The stable name of an unplugged adapter stays until udev removes it; then nothing is left.
    tree.Remove("ttyACM0", ArduinoUno().strById);
    tree.Remove("ttyUSB0");
    tree.Remove("ttyS0");
    failure = ExplainOpenFailure(strById, strById, ENOENT, roots);
    EXPECT_EQ(failure.strReason, strById + " leads to ../../ttyUSB0, which is not there");
    EXPECT_TRUE(failure.present.empty());
    EXPECT_EQ(failure.Lines(),
        strById + " leads to ../../ttyUSB0, which is not there\nNo serial "
            + "device is there now: plug in the adapter (it shows as ttyUSB or ttyACM)");

    // A UART place without a chip refuses to open with EIO.
    failure = ExplainOpenFailure("COM2", tree.Dev("ttyS1"), EIO, roots);
    EXPECT_EQ(failure.strReason, tree.Dev("ttyS1") + " has no device behind it");
}

// Read when used, so a test or a wrapper script can point COMn links elsewhere.
TEST(SerialPlatform, PortsDirectoryIsTakenFromTheEnvironmentWhenUsed)
{
    ::setenv("BREM_PORTS_DIR", "/nonexistent-brem-ports", 1);
    EXPECT_EQ(ResolvePortName("COM0"), "/nonexistent-brem-ports/COM0");
    ::unsetenv("BREM_PORTS_DIR");
}

} // namespace
