#include "serialfixtures.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr uint32_t g_dwMask = EV_RXCHAR | EV_CTS;

using SPortTest = SPortFixture;

TEST_F(SPortTest, MissingOrHeldPortFailsWithoutBoxThenGoodPortOpens)
{
    EXPECT_FALSE(
        port.InitPort(&owner, "/dev/brem-no-such-port", 3, 9600, 'N', 8, 1, g_dwMask, 8192));
    EXPECT_FALSE(port.PortOpen());
    const unsigned char p = 'P';
    EXPECT_FALSE(port.WriteToPort(&p, 1));

    ASSERT_EQ(::flock(pty.Slave(), LOCK_EX | LOCK_NB), 0); // another program holds it
    EXPECT_FALSE(Open());
    EXPECT_FALSE(port.PortOpen());
    ::flock(pty.Slave(), LOCK_UN);

    EXPECT_TRUE(Open());
    EXPECT_TRUE(port.PortOpen());
    EXPECT_TRUE(owner.Boxes().empty());

    // While we hold it, nobody else gets it.
    CSerialPort other;
    EXPECT_FALSE(other.InitPort(&owner, pty.SlavePath(), 8, 9600, 'N', 8, 1, g_dwMask, 8192));
}

struct SConfigCase {
    unsigned nBaud;
    char cParity;
    unsigned nData, nStop;
    const char* szBox; // nullptr: no box
};

class SConfigTest : public SPortTest, public testing::WithParamInterface<SConfigCase> { };

TEST_P(SConfigTest, OneBoxForTheFailedStepAndStillOpen)
{
    const SConfigCase& c = GetParam();
    EXPECT_TRUE(Open(c.nBaud, c.cParity, c.nData, c.nStop));
    EXPECT_TRUE(port.PortOpen());
    const auto boxes = owner.Boxes();
    ASSERT_EQ(boxes.size(), c.szBox ? 1u : 0u);
    if (!c.szBox)
        return;
    EXPECT_EQ(boxes[0].strText, BoxText(c.szBox, "Invalid argument", g_nPort));
    EXPECT_EQ(boxes[0].strCaption, "Application Error");
    EXPECT_EQ(boxes[0].idThread, std::this_thread::get_id()); // InitPort's boxes run in place
}

INSTANTIATE_TEST_SUITE_P(Settings, SConfigTest,
    testing::Values(SConfigCase { 115200, 'N', 8, 1, nullptr },
        SConfigCase { 9600, 'E', 7, 2, nullptr }, SConfigCase { 0, 'N', 8, 1, "SetCommState()" },
        SConfigCase { 12345, 'N', 8, 1, "SetCommState()" },
        SConfigCase { 9600, 'N', 8, 3, "BuildCommDCB()" },
        SConfigCase { 9600, 'Q', 8, 1, "BuildCommDCB()" },
        SConfigCase { 9600, '\0', 8, 1, "BuildCommDCB()" },
        SConfigCase { 9600, 'N', 4294967295u, 1, "BuildCommDCB()" }));

TEST_F(SPortTest, LineSettingsAppliedAndRestoredAtClose)
{
    termios tioBefore;
    ASSERT_EQ(::tcgetattr(pty.Slave(), &tioBefore), 0);
    ASSERT_TRUE(Open(9600, 'E', 7, 2));
    termios tio;
    ASSERT_EQ(::tcgetattr(pty.Slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    // A pty keeps 8 data bits and no parity whatever it is told; the rest must hold.
    EXPECT_EQ(tio.c_cflag & (CSTOPB | CLOCAL | CREAD | CRTSCTS),
        static_cast<tcflag_t>(CSTOPB | CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(port.LineSettings().BaudRate, 9600u);
    EXPECT_EQ(port.LineSettings().fRtsControl, RTS_CONTROL_ENABLE);

    port.ClosePort();
    ASSERT_EQ(::tcgetattr(pty.Slave(), &tio), 0);
    EXPECT_EQ(tio.c_cflag, tioBefore.c_cflag);
    EXPECT_EQ(::cfgetospeed(&tio), ::cfgetospeed(&tioBefore));
}

TEST_F(SPortTest, ComNameResolvesThroughPortsDir)
{
    char szDir[] = "/tmp/brem-ports-XXXXXX";
    ASSERT_NE(::mkdtemp(szDir), nullptr);
    const std::string strLink = std::string(szDir) + "/COM12";
    ASSERT_EQ(::symlink(pty.SlavePath().c_str(), strLink.c_str()), 0);
    ::setenv("BREM_PORTS_DIR", szDir, 1);
    EXPECT_TRUE(port.InitPort(&owner, 12, 9600, 'N', 8, 1, g_dwMask, 8192));
    ::unsetenv("BREM_PORTS_DIR");
    EXPECT_EQ(port.PortNr(), 12);
    EXPECT_NE(::flock(pty.Slave(), LOCK_EX | LOCK_NB), 0); // the link led to our pty
    port.ClosePort();
    ::unlink(strLink.c_str());
    ::rmdir(szDir);
}

TEST_F(SPortTest, WriteToPortAppendsWithinCapacityAndRefusesTheRest)
{
    ASSERT_TRUE(port.InitPort(&owner, pty.SlavePath(), 7, 9600, 'N', 8, 1, g_dwMask, 16));
    const Bytes bytes(17, 'x');
    EXPECT_FALSE(port.WriteToPort(bytes.data(), 17));
    EXPECT_EQ(port.WriteSize(), 0u);
    EXPECT_TRUE(port.WriteToPort(bytes.data(), 10));
    EXPECT_FALSE(port.WriteToPort(bytes.data(), 7));
    EXPECT_TRUE(port.WriteToPort(bytes.data(), 6));
    EXPECT_EQ(port.WriteSize(), 16u);
    EXPECT_FALSE(port.WriteToPort(bytes.data(), 1));
    EXPECT_FALSE(port.WriteToPort(nullptr, 1));

    port.ClosePort(); // no monitor thread: nothing to wait for
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(port.HasWriteBuffer());
    EXPECT_EQ(port.WriteSize(), 0u);
    EXPECT_FALSE(port.WriteToPort(bytes.data(), 1));
    EXPECT_EQ(pty.Unread(), 0u);
}

TEST_F(SPortTest, ErrorTextIsComposedWhole)
{
    const std::string strLong(1000, 'o');
    errno = ENOENT;
    port.ProcessErrorMessage(strLong.c_str());
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].strText, BoxText(strLong, "No such file or directory", 0));
}

TEST_F(SPortTest, DestructorClosesAnOpenPortAndEndsItsThread)
{
    {
        CSerialPort scoped;
        ASSERT_TRUE(scoped.InitPort(&owner, pty.SlavePath(), 1, 9600, 'N', 8, 1, g_dwMask, 64));
        ASSERT_TRUE(scoped.StartMonitoring());
    }
    EXPECT_TRUE(Open());
    CSerialPort never; // never opened: nothing to end
}

} // namespace
