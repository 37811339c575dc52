#include "serialfixtures.h"

#include <dirent.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace {

size_t CountEntries(const char* szDir)
{
    size_t n = 0;
    if (DIR* pDir = ::opendir(szDir)) {
        while (::readdir(pDir))
            ++n;
        ::closedir(pDir);
    }
    return n;
}

constexpr uint32_t g_dwMask = EV_RXCHAR | EV_CTS;
using SMonitorTest = SPortFixture;

class SDeliveryTest : public SMonitorTest, public testing::WithParamInterface<Bytes> { };

TEST_P(SDeliveryTest, EachByteInOrderOneAtATime)
{
    const Bytes& bytes = GetParam();
    std::vector<int> queuedDuring;
    owner.m_onByte = [&](unsigned char) {
        int n = 0;
        ::ioctl(pty.Slave(), FIONREAD, &n);
        queuedDuring.push_back(n);
    };
    Start();
    pty.Send(bytes);
    ASSERT_TRUE(owner.WaitBytes(bytes.size()));
    port.ClosePort();
    EXPECT_EQ(owner.Received(), bytes);
    // The rest stayed in the port while each byte was handled.
    EXPECT_EQ(queuedDuring.front(), static_cast<int>(bytes.size()) - 1);
    for (const SNote& note : owner.Notes()) {
        EXPECT_EQ(note.lParam, g_nPort);
        if (note.nMessage != WM_COMM_RXCHAR) {
            EXPECT_EQ(note.nMessage, WM_COMM_CTS_DETECTED); // the monitored mask, each pass
            EXPECT_EQ(note.wParam, 0u);
        }
    }
    EXPECT_EQ(port.ThreadExitCode(), 100);
    EXPECT_FALSE(port.ThreadAlive());
    EXPECT_TRUE(owner.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Bytes, SDeliveryTest,
    testing::Values(Bytes { 0x50, 0x01, 0x02 }, Bytes { 0xFF }, Bytes { 0x00, 0x80, 0xFF, 0x0D }));

TEST_F(SMonitorTest, WritesGoOutWholeAndInOrder)
{
    // Handed over before the thread runs: appended, not replaced.
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Write("P"));
    EXPECT_EQ(port.WriteSize(), 1u);
    EXPECT_TRUE(Write("AB"));
    ASSERT_TRUE(port.StartMonitoring());
    EXPECT_EQ(pty.Receive(3), Of("PAB"));

    // A second write's input purge must not cut off the first write, still unread.
    Bytes frame(4102);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<unsigned char>(i * 7);
    ASSERT_TRUE(port.WriteToPort(frame.data(), 4102));
    ASSERT_TRUE(Write("CD"));
    auto got = pty.Receive(4104);
    ASSERT_EQ(got.size(), 4104u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), got.begin()));
    EXPECT_EQ(got[4102], 'C');
    EXPECT_EQ(got[4103], 'D');
}

TEST_F(SMonitorTest, OwnersWriteDuringDeliveryFollowsEveryQueuedByte)
{
    owner.m_onByte = [&](unsigned char byte) {
        if (byte == 'A')
            Write("x");
    };
    Start();
    pty.Send(Of("ABCDE"));
    EXPECT_EQ(pty.Receive(1), Of("x"));
    EXPECT_EQ(owner.Received(), Of("ABCDE"));
}

TEST_F(SMonitorTest, WriteDropsUnreadInput)
{
    Start(EV_CTS); // nothing read: input stays queued until a write purges it
    pty.Send(Of("zz"));
    pollfd pfd = { pty.Slave(), POLLIN, 0 };
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    ASSERT_TRUE(Write("P"));
    EXPECT_EQ(pty.Receive(1), Of("P"));
    int nQueued = -1;
    ::ioctl(pty.Slave(), FIONREAD, &nQueued);
    EXPECT_EQ(nQueued, 0);
    EXPECT_TRUE(owner.Received().empty());
}

TEST_F(SMonitorTest, StopDuringPendingDeliveryWithWriteAlsoSet)
{
    Start();
    owner.Hold(true); // the window is busy: the first byte's delivery waits
    pty.Send(Of("ab"));
    ASSERT_TRUE(
        owner.Wait([&] { return owner.m_nPosted >= 1; })); // the pass's CTS notification, held
    ASSERT_TRUE(Write("never"));
    port.ClosePort(); // shutdown and write both set; must not hang on the held owner
    EXPECT_FALSE(port.ThreadAlive());
    EXPECT_EQ(port.ThreadExitCode(), 100);
    EXPECT_EQ(pty.Unread(), 0u);
    owner.Hold(false);
    ASSERT_TRUE(owner.WaitIdle());
    EXPECT_TRUE(owner.Received().empty()); // the stale closures did nothing
}

TEST_F(SMonitorTest, ClosePortFromInsideADelivery)
{
    owner.m_onByte = [&](unsigned char) { port.ClosePort(); };
    Start();
    pty.Send(Of("abc"));
    ASSERT_TRUE(owner.WaitBytes(1));
    ASSERT_TRUE(owner.WaitIdle());
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(owner.Received(), Of("a"));
}

TEST_F(SMonitorTest, InitPortWhileMonitoringEndsTheOldThreadFirst)
{
    Start();
    owner.Hold(true);
    pty.Send(Of("a"));
    ASSERT_TRUE(owner.Wait([&] { return owner.m_nPosted >= 1; }));
    CPty second;
    EXPECT_TRUE(port.InitPort(&owner, second.SlavePath(), 5, 9600, 'N', 8, 1, g_dwMask, 8192));
    EXPECT_FALSE(port.ThreadAlive());
    EXPECT_EQ(port.ThreadExitCode(), 100);
    owner.Hold(false);
    CSerialPort other; // the first port was let go
    EXPECT_TRUE(other.InitPort(&owner, pty.SlavePath(), 6, 9600, 'N', 8, 1, g_dwMask, 8192));
    ASSERT_TRUE(port.StartMonitoring());
    ASSERT_TRUE(Write("S"));
    ASSERT_EQ(second.Receive(1), Of("S"));
    second.Send(Of("b"));
    ASSERT_TRUE(owner.WaitBytes(1));
    EXPECT_EQ(owner.Received(), Of("b"));
    EXPECT_EQ(owner.Notes().back().lParam, 5);
}

TEST_F(SMonitorTest, HangUpIsReportedOnceOnTheOwnersThread)
{
    Start();
    pty.Send(Of("q"));
    ASSERT_TRUE(owner.WaitBytes(1));
    pty.CloseMaster();
    ASSERT_TRUE(owner.Wait([&] { return owner.m_nBoxes >= 1; }));
    const size_t nNotes = owner.Notes().size();
    ASSERT_TRUE(Write("P")); // dropped, not boxed again
    // A thread still polling the hung-up port would send a notification on every pass.
    EXPECT_FALSE(owner.Wait([&] { return owner.m_nPosted >= nNotes + 3; }, 200));
    port.ClosePort();
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].strText, BoxText("ReadFile()", "Input/output error", g_nPort));
    EXPECT_EQ(owner.Boxes()[0].idThread, owner.ThreadId());
}

TEST_F(SMonitorTest, FailedWriteIsBoxedOnceAndFreesTheLock)
{
    Start(EV_CTS); // the port is not watched, so only the write can find the device gone
    pty.CloseMaster();
    ASSERT_TRUE(Write("P"));
    ASSERT_TRUE(owner.Wait([&] { return owner.m_nBoxes >= 1; }));
    ASSERT_TRUE(Write("P")); // dropped: the gone device was reported already
    EXPECT_FALSE(owner.Wait([&] { return owner.m_nPosted >= 2; }, 200));
    port.ClosePort();
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].strText, BoxText("WriteFile()", "Input/output error", g_nPort));
}

TEST_F(SMonitorTest, CyclesLeaveNoDescriptorsOrThreads)
{
    const int nCycles = 1000;
    const size_t nFds = CountEntries("/proc/self/fd");
    const size_t nThreads = CountEntries("/proc/self/task");
    for (int i = 0; i < nCycles; ++i) {
        ASSERT_TRUE(Open());
        ASSERT_TRUE(port.StartMonitoring());
        const unsigned char byte = static_cast<unsigned char>(i);
        ASSERT_TRUE(port.WriteToPort(&byte, 1));
        ASSERT_EQ(pty.Receive(1), Bytes { byte }) << i;
        pty.Send({ byte });
        ASSERT_TRUE(owner.WaitBytes(static_cast<size_t>(i) + 1)) << i;
        port.ClosePort();
    }
    ASSERT_TRUE(owner.WaitIdle());
    EXPECT_EQ(CountEntries("/proc/self/fd"), nFds);
    EXPECT_EQ(CountEntries("/proc/self/task"), nThreads);
    EXPECT_TRUE(owner.Boxes().empty());
}

} // namespace
