#include "linepulse.h"
#include "serialfixtures.h"

#include <chrono>
#include <mutex>

namespace {

// Modem lines and breaks do not exist on a pty: the port's line calls are recorded here.
struct SLineCall {
    uint32_t dwFunc;
    std::chrono::steady_clock::time_point tp;
};

std::mutex g_mxCalls;
std::vector<SLineCall> g_calls;
uint32_t g_dwFailing = 0; // the call that fails, 0 for none
uint32_t g_dwStatus = 0;

bool RecordEscape(uint32_t dwFunc)
{
    std::lock_guard<std::mutex> lock(g_mxCalls);
    if (dwFunc == g_dwFailing) {
        SetLastSystemError(g_nInvalidArgument);
        return false;
    }
    g_calls.push_back({ dwFunc, std::chrono::steady_clock::now() });
    return true;
}

bool ReportStatus(uint32_t& dwStatus)
{
    dwStatus = g_dwStatus;
    return true;
}

const CCommPort::SLineHooks g_hooks = { RecordEscape, ReportStatus };

struct SLineTest : SPortFixture {
    SLineTest()
    {
        g_calls.clear();
        g_dwFailing = 0;
        CCommPort::SetLineHooks(&g_hooks);
    }
    ~SLineTest() override
    {
        port.ClosePort();
        CCommPort::SetLineHooks(nullptr);
    }
    static std::vector<uint32_t> Calls()
    {
        std::vector<uint32_t> calls;
        for (const SLineCall& call : g_calls)
            calls.push_back(call.dwFunc);
        return calls;
    }
    static long long MsBetween(size_t i, size_t j)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(g_calls[j].tp - g_calls[i].tp)
            .count();
    }
};

TEST_F(SLineTest, PulseReachesThePortInOrderWithItsDurations)
{
    std::vector<SPulseStep> steps;
    std::string strError;
    ASSERT_TRUE(
        ParseLinePulse("dtr=0,rts=1,wait=60,dtr=1,rts=off,break=40,dtr=on", steps, strError))
        << strError;
    Start();
    std::string strFailed;
    ASSERT_TRUE(RunLinePulse(port, steps, strFailed));
    ASSERT_EQ(Calls(),
        (std::vector<uint32_t> { CLRDTR, SETRTS, SETDTR, CLRRTS, SETBREAK, CLRBREAK, SETDTR }));
    EXPECT_GE(MsBetween(1, 2), 60);
    EXPECT_GE(MsBetween(4, 5), 40);
    EXPECT_TRUE(port.DtrOn());
    EXPECT_FALSE(port.RtsOn());
    EXPECT_FALSE(port.BreakOn());
    // The monitor thread went on serving the line meanwhile.
    ASSERT_TRUE(Write("ok"));
    EXPECT_EQ(pty.Receive(2), Of("ok"));
}

TEST_F(SLineTest, FailedStepStopsThePulseAndNamesIt)
{
    std::vector<SPulseStep> steps;
    std::string strError;
    ASSERT_TRUE(ParseLinePulse("dtr=1,break=20,rts=1", steps, strError));
    ASSERT_TRUE(Open());
    g_dwFailing = SETBREAK;
    std::string strFailed;
    EXPECT_FALSE(RunLinePulse(port, steps, strFailed));
    EXPECT_EQ(strFailed, "break=20");
    EXPECT_EQ(Calls(), std::vector<uint32_t> { SETDTR });
    EXPECT_FALSE(port.BreakOn());

    // Nothing reaches a closed port.
    port.ClosePort();
    g_dwFailing = 0;
    EXPECT_FALSE(port.EscapeCommFunction(SETDTR));
    uint32_t dwStatus = 1;
    EXPECT_FALSE(port.GetCommModemStatus(dwStatus));
    EXPECT_EQ(Calls(), std::vector<uint32_t> { SETDTR });
}

TEST_F(SLineTest, InputLinesAsThePortReportsThem)
{
    ASSERT_TRUE(Open());
    g_dwStatus = MS_CTS_ON | MS_RLSD_ON;
    uint32_t dwStatus = 0;
    ASSERT_TRUE(port.GetCommModemStatus(dwStatus));
    EXPECT_EQ(dwStatus, MS_CTS_ON | MS_RLSD_ON);
}

TEST(LinePulse, ParsesStepsAndRefusesTheRest)
{
    std::vector<SPulseStep> steps;
    std::string strError;
    ASSERT_TRUE(ParseLinePulse("rts=1,wait=100,break=250,wait=9650", steps, strError)) << strError;
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[1].eKind, SPulseStep::WAIT);
    EXPECT_EQ(steps[2].eKind, SPulseStep::BREAK);
    EXPECT_EQ(steps[2].nValue, 250u);

    for (const char* szBad : { "", "dtr", "dtr=", "dtr=2", "DTR=1", "wait=0", "wait=-5", "wait=1e3",
             "wait=10ms", "dtr=1,,rts=0", "dtr=1,", "cts=1", "break=abc", "wait=9999999" }) {
        strError.clear();
        EXPECT_FALSE(ParseLinePulse(szBad, steps, strError)) << szBad;
        EXPECT_NE(strError.find("is not a step"), std::string::npos) << szBad << ": " << strError;
    }
    // The download waits behind it: bounded in all.
    EXPECT_FALSE(ParseLinePulse("wait=10001", steps, strError));
    EXPECT_FALSE(ParseLinePulse("wait=6000,break=4001", steps, strError));
    EXPECT_NE(strError.find("10000 ms"), std::string::npos) << strError;
    std::string strMany = "dtr=1";
    for (int i = 0; i < 64; ++i)
        strMany += ",dtr=0";
    EXPECT_FALSE(ParseLinePulse(strMany, steps, strError));
    EXPECT_NE(strError.find("64 steps"), std::string::npos) << strError;
}

} // namespace
