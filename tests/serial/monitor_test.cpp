#include "serialfixtures.h"

#include <atomic>
#include <utility>

namespace {

using SMonitorTest = SPortFixture;

TEST_F(SMonitorTest, EachByteInOrderOneAtATime)
{
    const Bytes bytes { 0x50, 0x01, 0x02, 0xFF, 0x00, 0x80, 0x0D };
    Start(g_dwMask | EV_RXFLAG | EV_BREAK | EV_ERR | EV_RING);
    ASSERT_TRUE(pty.Send(bytes));
    ASSERT_TRUE(owner.WaitBytes(bytes.size()));
    port.ClosePort();
    // Each pass names every monitored event, in this order and by these numbers, then its bytes.
    const unsigned aPass[] = { 0x0402, 0x0408, 0x0401, 0x0404, 0x0405 };
    Bytes rx;
    size_t nEvents = 0;
    for (const SNote& note : owner.Get(owner.m_notes)) {
        EXPECT_EQ(note.lParam, g_nPort);
        if (note.nMessage == 0x0407u) {
            rx.push_back(static_cast<unsigned char>(note.wParam));
            continue;
        }
        if (note.nMessage == 0x0409u) { // Start()'s write, the first
            EXPECT_EQ(note.wParam, 1u);
            continue;
        }
        EXPECT_EQ(note.nMessage, aPass[nEvents++ % 5]);
        EXPECT_EQ(note.wParam, 0u);
    }
    EXPECT_EQ(rx, bytes);
    EXPECT_TRUE(owner.Get(owner.m_boxes).empty());
}

TEST_F(SMonitorTest, FloodArrivesWholeAndInOrder)
{
    constexpr uint64_t nBytes = 1 << 18;
    Start();
    pty.Flood(nBytes);
    ASSERT_TRUE(owner.Wait([&] { return owner.m_received.size() >= nBytes; }, 120000));
    port.ClosePort();
    const Bytes received = owner.Get(owner.m_received);
    ASSERT_EQ(received.size(), nBytes);
    for (uint64_t i = 0; i < nBytes; ++i)
        ASSERT_EQ(received[i], FloodPattern(i)) << "byte " << i;
}

// A device that never pauses: the owner's write still goes out, its report comes, the bytes stay
// in order (a write may cut one gap, where it discarded what had not been handed over), and the
// owner's own loop still gets its turn.
TEST_F(SMonitorTest, WriteAndOwnersLoopServedWhileFloodGoesOn)
{
    std::atomic<uint64_t> nWrite { 0 };
    size_t nSeen = 0;
    owner.m_onByte = [&](unsigned char) {
        if (++nSeen == 2000)
            nWrite = port.WriteToPort(reinterpret_cast<const unsigned char*>("x"), 1);
        // An owner slower than the device, so that the port never runs dry.
        for (volatile int i = 0; i < 1000; ++i) { }
    };
    Start();
    pty.Flood();
    ASSERT_EQ(pty.Receive(1), Of("x"));
    std::atomic<bool> bRan { false };
    owner.PostToOwner([&] { bRan = true; });
    ASSERT_TRUE(owner.Wait([&] { return bRan.load(); }));
    pty.StopFlood();
    // Never in the pattern: the end. It goes in once the port has taken what the flood left.
    ASSERT_TRUE(owner.Until([&] { return pty.Send({ 0xFF }); }, 60000));
    ASSERT_TRUE(owner.Wait(
        [&] { return !owner.m_received.empty() && owner.m_received.back() == 0xFF; }, 120000));
    port.ClosePort();
    Bytes received = owner.Get(owner.m_received);
    received.pop_back();
    int nGaps = 0;
    for (size_t i = 1; i < received.size(); ++i)
        nGaps += received[i] != FloodPattern(received[i - 1] + 1u);
    EXPECT_LE(nGaps, 1);
    const auto notes = owner.Get(owner.m_notes);
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const SNote& note) {
        return note.nMessage == WM_COMM_TXEMPTY && note.wParam == nWrite.load();
    }));
}

// A stop during a flood, from another thread or from inside a notification: no deadlock, and
// nothing reaches the owner once ClosePort has returned.
class SCloseTest : public SMonitorTest, public testing::WithParamInterface<bool> { };

TEST_P(SCloseTest, CloseDuringFloodDeliversNothingAfter)
{
    const bool bFromOwner = GetParam();
    std::atomic<size_t> nAtClose { 0 };
    size_t nSeen = 0;
    if (bFromOwner) {
        owner.m_onByte = [&](unsigned char) {
            if (++nSeen == 5000) {
                port.ClosePort();
                nAtClose = nSeen;
            }
        };
    }
    Start();
    pty.Flood();
    if (bFromOwner) {
        ASSERT_TRUE(owner.Wait([&] { return nAtClose.load() != 0; }, 60000));
    } else {
        ASSERT_TRUE(owner.WaitBytes(5000));
        port.ClosePort();
        nAtClose = owner.Get(owner.m_received).size();
    }
    pty.StopFlood();
    EXPECT_FALSE(port.ThreadAlive());
    ASSERT_TRUE(owner.WaitIdle());
    EXPECT_EQ(owner.Get(owner.m_received).size(), nAtClose.load());
}

INSTANTIATE_TEST_SUITE_P(FromTestOrOwner, SCloseTest, testing::Bool());

TEST_F(SMonitorTest, WritesGoOutWholeAndInOrder)
{
    Start();
    // A second write's input purge must not cut off the first write, still unread.
    Bytes frame(4102);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<unsigned char>(i * 7);
    ASSERT_TRUE(port.WriteToPort(frame.data(), 4102));
    ASSERT_TRUE(Write("CD"));
    frame.push_back('C');
    frame.push_back('D');
    EXPECT_EQ(pty.Receive(4104), frame);
}

TEST_F(SMonitorTest, OwnersWriteDuringDeliveryFollowsEveryQueuedByte)
{
    owner.m_onByte = [&](unsigned char byte) {
        if (byte == 'A')
            Write("x");
    };
    Start();
    ASSERT_TRUE(pty.Send(Of("ABCDE")));
    EXPECT_EQ(pty.Receive(1), Of("x"));
    EXPECT_EQ(owner.Get(owner.m_received), Of("ABCDE"));
}

// The owner learns when its bytes are out: after every byte that came before them, before any
// reply to them. Calls handed over together go out as one write, reported by the last number.
TEST_F(SMonitorTest, WriteIsReportedBetweenEarlierInputAndItsReply)
{
    uint64_t nReplied = 0;
    owner.m_onByte = [&](unsigned char byte) {
        if (byte == 'A')
            nReplied = port.WriteToPort(reinterpret_cast<const unsigned char*>("x"), 1);
    };
    ASSERT_TRUE(Open());
    EXPECT_EQ(port.WriteToPort(reinterpret_cast<const unsigned char*>("P"), 1), 1u);
    EXPECT_EQ(port.WriteToPort(reinterpret_cast<const unsigned char*>("Q"), 1), 2u);
    ASSERT_TRUE(port.StartMonitoring());
    ASSERT_EQ(pty.Receive(2), Of("PQ"));
    ASSERT_TRUE(pty.Send(Of("AB")));
    ASSERT_EQ(pty.Receive(1), Of("x"));
    ASSERT_TRUE(pty.Send(Of("y")));
    ASSERT_TRUE(owner.WaitBytes(3));
    port.ClosePort();
    EXPECT_EQ(owner.Get(nReplied), 3u);
    std::vector<std::pair<unsigned, uintptr_t>> seen;
    for (const SNote& note : owner.Get(owner.m_notes)) {
        if (note.nMessage != WM_COMM_CTS_DETECTED)
            seen.emplace_back(note.nMessage, note.wParam);
    }
    const std::vector<std::pair<unsigned, uintptr_t>> expected { { 0x0409, 2 }, { 0x0407, 'A' },
        { 0x0407, 'B' }, { 0x0409, 3 }, { 0x0407, 'y' } };
    EXPECT_EQ(seen, expected);
}

// A write waits until the owner has handled what was handed over before it; meanwhile the
// monitor reads ahead, and the write discards what it read: never handed over.
TEST_F(SMonitorTest, WriteWaitsForTheOwnerAndDiscardsWhatWasReadAhead)
{
    std::atomic<bool> bGo { false };
    owner.m_onByte = [&](unsigned char byte) {
        if (byte == 'B')
            owner.Until([&] { return bGo.load(); });
    };
    Start();
    ASSERT_TRUE(pty.Send(Of("AB")));
    ASSERT_TRUE(owner.WaitBytes(2)); // the owner is busy with B
    ASSERT_TRUE(Write("x"));
    ASSERT_TRUE(owner.Until([&] { return port.WritesSeen() == 2; })); // Start()'s and this
    ASSERT_TRUE(pty.Send(Of("LATE")));
    ASSERT_TRUE(owner.Until([&] { return pty.Queued() == 0; })); // read ahead
    EXPECT_TRUE(pty.Receive(1, 100).empty());
    bGo = true;
    ASSERT_EQ(pty.Receive(1), Of("x"));
    ASSERT_TRUE(pty.Send(Of("y")));
    ASSERT_TRUE(owner.WaitBytes(3));
    port.ClosePort();
    EXPECT_EQ(owner.Get(owner.m_received), Of("ABy"));
}

TEST_F(SMonitorTest, WriteDropsUnreadInput)
{
    Start(EV_CTS); // nothing read: input stays queued until a write purges it
    ASSERT_TRUE(pty.Send(Of("zz")));
    ASSERT_TRUE(pty.WaitQueued(5000));
    ASSERT_TRUE(Write("P"));
    EXPECT_EQ(pty.Receive(1), Of("P"));
    EXPECT_EQ(pty.Queued(), 0);
    EXPECT_TRUE(owner.Get(owner.m_received).empty());
}

// A stop while the owner is busy with a delivery and a write is pending, by ClosePort or by
// InitPort: the thread ends without waiting for the owner, and its stale closures do nothing.
class SHeldTest : public SMonitorTest, public testing::WithParamInterface<bool> { };

TEST_P(SHeldTest, StopDuringPendingDeliveryWithWriteAlsoSet)
{
    const bool bReopen = GetParam();
    Start();
    owner.Hold(true);
    const size_t nPosted = owner.Get(owner.m_nPosted);
    ASSERT_TRUE(pty.Send(Of("ab")));
    ASSERT_TRUE(owner.Wait([&] { return owner.m_nPosted > nPosted; })); // the pass, held
    ASSERT_TRUE(Write("never"));
    CTestPty second;
    if (bReopen)
        EXPECT_TRUE(port.InitPort(&owner, second.PortName(), 5, 9600, 'N', 8, 1, g_dwMask, 8192));
    else
        port.ClosePort();
    EXPECT_FALSE(port.ThreadAlive());
    EXPECT_EQ(port.ThreadExitCode(), 100);
    EXPECT_TRUE(pty.Receive(100, 0).empty());
    owner.Hold(false);
    ASSERT_TRUE(owner.WaitIdle());
    EXPECT_TRUE(owner.Get(owner.m_received).empty());
    if (!bReopen)
        return;
    CSerialPort other; // the first port was let go
    EXPECT_TRUE(other.InitPort(&owner, pty.PortName(), 6, 9600, 'N', 8, 1, g_dwMask, 8192));
    ASSERT_TRUE(port.StartMonitoring());
    ASSERT_TRUE(Write("S"));
    ASSERT_EQ(second.Receive(1), Of("S"));
    ASSERT_TRUE(second.Send(Of("b")));
    ASSERT_TRUE(owner.WaitBytes(1));
    EXPECT_EQ(owner.Get(owner.m_received), Of("b"));
    EXPECT_EQ(owner.Get(owner.m_notes).back().lParam, 5);
}

INSTANTIATE_TEST_SUITE_P(ClosedOrReopened, SHeldTest, testing::Bool());

// A device that goes away is boxed once, on the owner's thread, and the thread stops polling
// it: still watching a hung-up port would post a notification on every pass. The parameter:
// the mask holds EV_RXCHAR.
class SGoneTest : public SMonitorTest, public testing::WithParamInterface<bool> { };

TEST_P(SGoneTest, ReportedOnceOnTheOwnersThread)
{
    const bool bReads = GetParam();
    Start(bReads ? EV_RXCHAR | EV_CTS : EV_CTS);
    pty.CloseMaster();
    // Where the port waits for bytes only, a write is what finds the device gone.
    if (!bReads && !testsystem::g_bWaitsForLines) {
        ASSERT_TRUE(Write("P"));
    }
    ASSERT_TRUE(owner.Wait([&] { return !owner.m_boxes.empty(); }));
    const size_t nPosted = owner.Get(owner.m_nPosted);
    const uint64_t nDropped = port.WriteToPort(reinterpret_cast<const unsigned char*>("P"), 1);
    ASSERT_NE(nDropped, 0u); // taken, then dropped with a failure report, not boxed again
    ASSERT_TRUE(owner.Wait([&] {
        return std::any_of(owner.m_notes.begin(), owner.m_notes.end(), [&](const SNote& note) {
            return note.nMessage == WM_COMM_TXFAILED && note.wParam == nDropped;
        });
    }));
    EXPECT_FALSE(owner.Wait([&] { return owner.m_nPosted >= nPosted + 3; }, 200));
    port.ClosePort();
    const auto boxes = owner.Get(owner.m_boxes);
    ASSERT_EQ(boxes.size(), 1u);
    const char* szOperation = testsystem::GoneOperation(bReads);
    EXPECT_EQ(boxes[0].strText, BoxText(szOperation, testsystem::g_szGone, g_nPort));
    EXPECT_EQ(boxes[0].idThread, owner.ThreadId());
}

INSTANTIATE_TEST_SUITE_P(ReadingOrNot, SGoneTest, testing::Bool());

TEST_F(SMonitorTest, CyclesLeaveNoDescriptorsOrThreads)
{
    const size_t nHandles = testsystem::OpenHandles();
    // A thread that has been joined can linger in the list for a moment, so the count may fall
    // during the run; a leak would raise it by the count of cycles.
    const size_t nThreads = testsystem::Threads();
    for (int i = 0; i < testsystem::g_nCycles; ++i) {
        ASSERT_TRUE(Open());
        ASSERT_TRUE(port.StartMonitoring());
        const unsigned char byte = static_cast<unsigned char>(i);
        ASSERT_TRUE(port.WriteToPort(&byte, 1));
        ASSERT_EQ(pty.Receive(1), Bytes { byte }) << i;
        ASSERT_TRUE(pty.Send({ byte }));
        ASSERT_TRUE(owner.WaitBytes(static_cast<size_t>(i) + 1)) << i;
        port.ClosePort();
    }
    ASSERT_TRUE(owner.WaitIdle());
    EXPECT_EQ(testsystem::OpenHandles(), nHandles);
    EXPECT_TRUE(owner.Until([&] { return testsystem::Threads() <= nThreads; }));
    EXPECT_TRUE(owner.Get(owner.m_boxes).empty());
}

} // namespace
