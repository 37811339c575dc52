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
    if (nBaud == testsystem::g_nRefusedBaud && !testsystem::g_bRefusesRate)
        GTEST_SKIP() << "this line takes every rate";
    EXPECT_TRUE(Open(nBaud, cParity, nData, 1));
    EXPECT_TRUE(port.PortOpen());
    EXPECT_FALSE(port.LineSettingsApplied());
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

// The rates of the window's list and typed ones, each as the driver reports it back.
TEST_F(SPortTest, EveryListedRateAndTypedOnesReachTheLine)
{
    for (unsigned nBaud : { 9600u, 19200u, 38400u, 57600u, 115200u, 230400u, 460800u, 921600u,
             1000000u, 1500000u, 2000000u, 3000000u }) {
        ASSERT_TRUE(Open(nBaud)) << nBaud;
        EXPECT_TRUE(port.LineSettingsApplied()) << nBaud;
        EXPECT_EQ(pty.LineState().nBaud, nBaud);
        EXPECT_EQ(port.LineSettings().BaudRate, nBaud);
    }
    EXPECT_TRUE(owner.Get(owner.m_boxes).empty());
    // Where the line cannot make a typed rate, the port says so rather than run at another.
    for (unsigned nBaud : { 250000u, 74880u }) {
        ASSERT_TRUE(Open(nBaud)) << nBaud;
        EXPECT_EQ(port.LineSettingsApplied(), testsystem::g_bTakesTypedRates) << nBaud;
        if (testsystem::g_bTakesTypedRates) {
            EXPECT_EQ(pty.LineState().nBaud, nBaud);
            EXPECT_EQ(port.LineSettings().BaudRate, nBaud);
        }
    }
    EXPECT_EQ(owner.Get(owner.m_boxes).size(), testsystem::g_bTakesTypedRates ? 0u : 2u);
}

TEST_F(SPortTest, FlowControlAndOutputLevelsReachTheLine)
{
    SLineControl control;
    control.eFlow = SLineControl::FLOW_RTSCTS;
    port.SetLineControl(control);
    ASSERT_TRUE(Open(921600));
    SLineState state = pty.LineState();
    EXPECT_TRUE(state.bHardwareFlow);
    EXPECT_FALSE(state.bSoftwareFlow);
    EXPECT_EQ(port.LineSettings().fRtsControl, RTS_CONTROL_HANDSHAKE);

    control.eFlow = SLineControl::FLOW_XONXOFF;
    port.SetLineControl(control);
    ASSERT_TRUE(Open(921600));
    state = pty.LineState();
    EXPECT_FALSE(state.bHardwareFlow);
    EXPECT_TRUE(state.bSoftwareFlow);

    // Levels chosen for the open, and a port found with flow control loses it.
    control = SLineControl();
    control.nDtr = 0;
    control.bRts = false;
    port.SetLineControl(control);
    ASSERT_TRUE(Open(115200));
    state = pty.LineState();
    EXPECT_FALSE(state.bHardwareFlow || state.bSoftwareFlow);
    EXPECT_EQ(port.LineSettings().fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(port.LineSettings().fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_FALSE(port.RtsOn());
    EXPECT_FALSE(port.DtrOn());
    EXPECT_TRUE(owner.Get(owner.m_boxes).empty());
}

// Changed while open: at once, and a refusal leaves the line as it ran.
TEST_F(SPortTest, SettingsChangeOnTheOpenPortOrStayAsTheyWere)
{
    Start();
    SLineControl control;
    control.eFlow = SLineControl::FLOW_RTSCTS;
    port.SetLineControl(control);
    ASSERT_TRUE(port.ChangeLineSettings(1500000, 'N', 8, 2));
    SLineState state = pty.LineState();
    EXPECT_EQ(state.nBaud, 1500000u);
    EXPECT_TRUE(state.bTwoStopBits);
    EXPECT_TRUE(state.bHardwareFlow);

    if (testsystem::g_bRefusesRate) {
        port.SetLineControl(SLineControl());
        EXPECT_FALSE(port.ChangeLineSettings(testsystem::g_nRefusedBaud, 'N', 8, 1));
        EXPECT_EQ(LastSystemError(), g_nInvalidArgument);
        state = pty.LineState();
        EXPECT_EQ(state.nBaud, 1500000u);
        EXPECT_TRUE(state.bHardwareFlow);
        EXPECT_EQ(port.LineSettings().BaudRate, 1500000u);
    }
    EXPECT_FALSE(port.ChangeLineSettings(9600, 'N', 9, 1));
    EXPECT_EQ(pty.LineState().nBaud, 1500000u);

    // Bytes still flow both ways at the new rate.
    ASSERT_TRUE(Write("after"));
    EXPECT_EQ(pty.Receive(5), Of("after"));
    port.ClosePort();
    EXPECT_FALSE(port.ChangeLineSettings(9600, 'N', 8, 1));
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
