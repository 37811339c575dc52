#include "serialfixtures.h"

#include <sys/file.h>
#include <tuple>

namespace {

using SPortTest = SPortFixture;

TEST_F(SPortTest, MissingOrHeldPortFailsWithoutBoxThenGoodPortOpens)
{
    EXPECT_FALSE(
        port.InitPort(&owner, "/dev/brem-no-such-port", 3, 9600, 'N', 8, 1, g_dwMask, 8192));
    EXPECT_FALSE(port.PortOpen());

    ASSERT_EQ(::flock(pty.Slave(), LOCK_EX | LOCK_NB), 0); // another program holds it
    EXPECT_FALSE(Open());
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.OpenError(), EBUSY); // what the reason given to the user is built on
    ::flock(pty.Slave(), LOCK_UN);

    EXPECT_TRUE(Open());
    EXPECT_TRUE(port.PortOpen());
    EXPECT_TRUE(owner.Get(owner.m_boxes).empty());
}

// Settings the line refuses: one box for the failed step, in place, and the port stays open.
using SConfigCase = std::tuple<unsigned, char, unsigned, const char*>; // baud, parity, data, box
class SConfigTest : public SPortTest, public testing::WithParamInterface<SConfigCase> { };

TEST_P(SConfigTest, OneBoxForTheFailedStepAndStillOpen)
{
    const auto& [nBaud, cParity, nData, szBox] = GetParam();
    EXPECT_TRUE(Open(nBaud, cParity, nData, 1));
    EXPECT_TRUE(port.PortOpen());
    const auto boxes = owner.Get(owner.m_boxes);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].strText, BoxText(szBox, "Invalid argument", g_nPort));
    EXPECT_EQ(boxes[0].strCaption, "Application Error");
    EXPECT_EQ(boxes[0].idThread, std::this_thread::get_id());
}

INSTANTIATE_TEST_SUITE_P(Settings, SConfigTest,
    testing::Values(SConfigCase { 12345, 'N', 8, "SetCommState()" },
        SConfigCase { 9600, '\0', 8, "BuildCommDCB()" },
        SConfigCase { 9600, 'N', 4294967295u, "BuildCommDCB()" }));

TEST_F(SPortTest, LineSettingsAppliedAndRestoredAtClose)
{
    termios tioBefore;
    ASSERT_EQ(::tcgetattr(pty.Slave(), &tioBefore), 0);
    ASSERT_TRUE(Open(9600, 'E', 7, 2));
    EXPECT_TRUE(owner.Get(owner.m_boxes).empty());
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

TEST_F(SPortTest, WriteToPortAppendsWithinCapacityAndRefusesTheRest)
{
    ASSERT_TRUE(port.InitPort(&owner, pty.SlavePath(), 7, 9600, 'N', 8, 1, g_dwMask, 16));
    EXPECT_TRUE(Write("0123456789"));
    EXPECT_FALSE(Write("refused"));
    EXPECT_TRUE(Write("abcdef"));
    EXPECT_EQ(port.WriteSize(), 16u);
    EXPECT_FALSE(port.WriteToPort(nullptr, 1));

    // Exactly what was taken goes out, and nothing more: the next write follows it at once.
    ASSERT_TRUE(port.StartMonitoring());
    EXPECT_EQ(pty.Receive(16), Of("0123456789abcdef"));
    EXPECT_TRUE(Write("Z"));
    EXPECT_EQ(pty.Receive(1), Of("Z"));

    port.ClosePort();
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(port.HasWriteBuffer());
    EXPECT_FALSE(Write("x"));
}

TEST_F(SPortTest, ErrorTextIsComposedWhole)
{
    const std::string strLong(1000, 'o');
    errno = ENOENT;
    port.ProcessErrorMessage(strLong.c_str());
    ASSERT_EQ(owner.Get(owner.m_boxes).size(), 1u);
    EXPECT_EQ(
        owner.Get(owner.m_boxes)[0].strText, BoxText(strLong, "No such file or directory", 0));
}

TEST_F(SPortTest, DestructorClosesAnOpenPortAndEndsItsThread)
{
    {
        CSerialPort scoped;
        ASSERT_TRUE(scoped.InitPort(&owner, pty.SlavePath(), 1, 9600, 'N', 8, 1, g_dwMask, 64));
        ASSERT_TRUE(scoped.StartMonitoring());
        EXPECT_FALSE(Open()); // while it holds the port nobody else gets it
    }
    EXPECT_TRUE(Open());
}

} // namespace
