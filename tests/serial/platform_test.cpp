#include "commevent.h"
#include "dcb.h"
#include "deadline.h"
#include "syserror.h"

#include <climits>
#include <gtest/gtest.h>
#include <tuple>

namespace {

struct SModeCase {
    const char* szMode;
    bool bOk = false;
    uint32_t nBaud = 0;
    uint8_t nSize = 0, nParity = 0, nStop = 0;
};

TEST(SerialPlatform, BuildCommDCBAppliesOrRefusesWhole)
{
    const SModeCase aCases[]
        = { { "baud=9600 parity=e data=7 stop=2", true, 9600, 7, EVENPARITY, TWOSTOPBITS },
              { "baud=0 parity=O data=5 stop=1.5", true, 0, 5, ODDPARITY, ONE5STOPBITS },
              { "baud=12345 parity=M data=6 stop=1", true, 12345, 6, MARKPARITY, ONESTOPBIT },
              { "baud=-1 parity=N data=8 stop=1" }, { "baud=4294967296" },
              { "baud=9600 parity=NN data=8 stop=1" }, { "baud=9600 parity=N data=9 stop=1" },
              { "baud=9600 parity=N data=4 stop=1" }, { "baud=9600 parity=N data=8 stop=3" },
              { "baud=9600 speed=1" }, { "baud 9600" }, { "" }, { "baud=" } };
    for (const SModeCase& c : aCases) {
        DCB dcb;
        dcb.BaudRate = 1;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        SetLastSystemError(0);
        ASSERT_EQ(BuildCommDCB(c.szMode, dcb), c.bOk) << c.szMode;
        if (!c.bOk) {
            EXPECT_EQ(LastSystemError(), g_nInvalidArgument) << c.szMode;
            EXPECT_EQ(dcb.BaudRate, 1u) << c.szMode; // untouched
            continue;
        }
        EXPECT_EQ(std::tie(dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits),
            std::tie(c.nBaud, c.nSize, c.nParity, c.nStop))
            << c.szMode;
        EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE) << c.szMode; // the rest kept
    }
}

TEST(SerialPlatform, WriteTimeoutIsPerByteAndDoesNotWrap)
{
    COMMTIMEOUTS t;
    t.WriteTotalTimeoutMultiplier = 1000;
    t.WriteTotalTimeoutConstant = 1000;
    EXPECT_EQ(WriteTimeoutMs(t, 1), 2000u);
    EXPECT_EQ(WriteTimeoutMs(t, 4102), 4103000u);
    EXPECT_EQ(WriteTimeoutMs(t, UINT32_MAX), 4294967295000ull + 1000);
}

TEST(SerialPlatform, DeadlineRoundsUpAndClamps)
{
    const auto tp = CDeadline::Clock::now();
    const CDeadline d(10, tp);
    EXPECT_EQ(d.PollTimeoutMs(tp), 10);
    EXPECT_EQ(d.PollTimeoutMs(tp + std::chrono::microseconds(9001)), 1);
    EXPECT_FALSE(d.Expired(tp + std::chrono::microseconds(9999)));
    EXPECT_TRUE(d.Expired(tp + std::chrono::milliseconds(10)));
    EXPECT_EQ(d.PollTimeoutMs(tp + std::chrono::seconds(1)), 0);
    EXPECT_EQ(CDeadline(UINT64_MAX, tp).PollTimeoutMs(tp), INT_MAX);
}

TEST(SerialPlatform, WaitServesShutdownThenPortThenWrite)
{
    CCommEvent aEvents[3];
    const WaitHandle aHandles[3]
        = { aEvents[0].Handle(), aEvents[1].Handle(), aEvents[2].Handle() };
    EXPECT_EQ(CCommEvent::WaitAny(aHandles, 3, 1000), -1);
    aEvents[2].Set();
    EXPECT_EQ(CCommEvent::WaitAny(aHandles, 3), 2);
    aEvents[1].Set();
    EXPECT_EQ(CCommEvent::WaitAny(aHandles, 3), 1);
    aEvents[0].Set();
    aEvents[0].Set();
    EXPECT_EQ(CCommEvent::WaitAny(aHandles, 3), 0);
    EXPECT_TRUE(aEvents[0].IsSet()); // manual reset: a wait does not consume it
    aEvents[0].Reset();
    EXPECT_FALSE(aEvents[0].IsSet());
    const WaitHandle aSkip[3] = { aHandles[0], g_hNoWait, aHandles[2] };
    EXPECT_EQ(CCommEvent::WaitAny(aSkip, 3), 2);
}

} // namespace
