#include "serialfixtures.h"

#include <tuple>

namespace {

using SPortTest = SPortFixture;

TEST_F(SPortTest, MissingOrHeldPortFailsWithoutBoxThenGoodPortOpens)
{
    EXPECT_FALSE(
        port.InitPort(&owner, testsystem::g_szAbsentPort, 3, 9600, 'N', 8, 1, g_dwMask, 8192));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.OpenError(), testsystem::g_nNotThere);

    ASSERT_TRUE(pty.Hold(true)); // another program holds it
    EXPECT_FALSE(Open());
    EXPECT_FALSE(port.PortOpen());
    // What the reason given to the user is built on.
    EXPECT_EQ(port.OpenError(), testsystem::g_nHeld);
    ASSERT_TRUE(pty.Hold(false));

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
    if (nBaud == 0)
        GTEST_SKIP() << "this line takes every rate";
    EXPECT_TRUE(Open(nBaud, cParity, nData, 1));
    EXPECT_TRUE(port.PortOpen());
    const auto boxes = owner.Get(owner.m_boxes);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].strText, BoxText(szBox, testsystem::g_szInvalid, g_nPort));
    EXPECT_EQ(boxes[0].strCaption, "Application Error");
    EXPECT_EQ(boxes[0].idThread, std::this_thread::get_id());
}

INSTANTIATE_TEST_SUITE_P(Settings, SConfigTest,
    testing::Values(SConfigCase { testsystem::g_nRefusedBaud, 'N', 8, "SetCommState()" },
        SConfigCase { 9600, '\0', 8, "BuildCommDCB()" },
        SConfigCase { 9600, 'N', 4294967295u, "BuildCommDCB()" }));

TEST_F(SPortTest, LineSettingsAppliedAndRestoredAtClose)
{
    const SLineState before = pty.LineState();
    ASSERT_TRUE(Open(9600, 'E', 7, 2));
    EXPECT_TRUE(owner.Get(owner.m_boxes).empty());
    const SLineState open = pty.LineState();
    EXPECT_EQ(open.nBaud, 9600u);
    // A pty keeps 8 data bits and no parity whatever it is told; the rest must hold.
    EXPECT_EQ(std::tie(open.bTwoStopBits, open.bLocal, open.bReceiver, open.bHardwareFlow),
        std::make_tuple(true, true, true, false));
    EXPECT_EQ(std::tie(open.bCanonical, open.bEcho, open.bSignals, open.bSoftwareFlow),
        std::make_tuple(false, false, false, false));
    EXPECT_EQ(port.LineSettings().BaudRate, 9600u);
    EXPECT_EQ(port.LineSettings().fRtsControl, RTS_CONTROL_ENABLE);

    port.ClosePort();
    const SLineState after = pty.LineState();
    EXPECT_EQ(after.nControl, before.nControl);
    EXPECT_EQ(after.nBaud, before.nBaud);
}

TEST_F(SPortTest, WriteToPortAppendsWithinCapacityAndRefusesTheRest)
{
    ASSERT_TRUE(port.InitPort(&owner, pty.PortName(), 7, 9600, 'N', 8, 1, g_dwMask, 16));
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
    SetLastSystemError(testsystem::g_nNotThere);
    port.ProcessErrorMessage(strLong.c_str());
    ASSERT_EQ(owner.Get(owner.m_boxes).size(), 1u);
    EXPECT_EQ(owner.Get(owner.m_boxes)[0].strText, BoxText(strLong, testsystem::g_szNotThere, 0));
}

TEST_F(SPortTest, DestructorClosesAnOpenPortAndEndsItsThread)
{
    {
        CSerialPort scoped;
        ASSERT_TRUE(scoped.InitPort(&owner, pty.PortName(), 1, 9600, 'N', 8, 1, g_dwMask, 64));
        ASSERT_TRUE(scoped.StartMonitoring());
        EXPECT_FALSE(Open()); // while it holds the port nobody else gets it
    }
    EXPECT_TRUE(Open());
}

} // namespace
