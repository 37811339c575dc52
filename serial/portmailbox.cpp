#include "portmailbox.h"

#include "serialport.h"

namespace {

using Clock = std::chrono::steady_clock;

// Measured on the 2-core machine (bench_terminal, gaps timed with unbounded spins): the owner
// finishes the notification a write waits for within 6 us in 9 of 10 cases and 24 us in 99 of
// 100; the monitor brings the next item (or a write's report) within 35 us in 9 of 10 cases
// after a write, and a 4 KiB item in about 50 us during a flood. A spin that misses costs no
// more than the wake-up it tried to save, so each budget covers about the 90th to 99th
// percentile of its gap. The slice keeps input and painting live: a click waits at most one.
std::atomic<unsigned> g_nMonitorSpinNs { 25000 };
std::atomic<unsigned> g_nOwnerSpinNs { 50000 };
std::atomic<unsigned> g_nSliceUs { 4000 };

// The clock is read once per this many notifications while the owner's thread takes them.
constexpr size_t g_nClockStride = 16;

// True once done() holds; false when it gives up first (nNs passed, or stop() holds). Each
// round yields: on a busy machine the thread we wait for may be queued for this very core.
template <class Done, class Stop> bool SpinUntil(Done done, Stop stop, unsigned nNs)
{
    if (done())
        return true;
    if (nNs == 0)
        return false;
    const Clock::time_point tpEnd = Clock::now() + std::chrono::nanoseconds(nNs);
    for (unsigned nRound = 1;; ++nRound) {
        std::this_thread::yield();
        if (done())
            return true;
        if (stop() || ((nRound & 7) == 0 && Clock::now() >= tpEnd))
            return false;
    }
}

} // namespace

CPortMailbox::SBudget CPortMailbox::Budget()
{
    return { g_nMonitorSpinNs.load(std::memory_order_relaxed),
        g_nOwnerSpinNs.load(std::memory_order_relaxed),
        g_nSliceUs.load(std::memory_order_relaxed) };
}

void CPortMailbox::SetBudget(const SBudget& budget)
{
    g_nMonitorSpinNs.store(budget.nMonitorSpinNs);
    g_nOwnerSpinNs.store(budget.nOwnerSpinNs);
    g_nSliceUs.store(budget.nSliceUs);
}

CPortMailbox::CPortMailbox(CSerialPortOwner* pOwner, intptr_t lParam)
    : m_pOwner(pOwner)
    , m_lParam(lParam)
{ }

template <class Pred> void CPortMailbox::Sleep(Pred pred)
{
    // Counted first, so that whoever changes the state after our last look wakes us.
    m_nSleepers.fetch_add(1);
    {
        std::unique_lock<std::mutex> lock(m_mx);
        m_cv.wait(lock, pred);
    }
    m_nSleepers.fetch_sub(1);
}

void CPortMailbox::WakeSleepers()
{
    if (m_nSleepers.load() == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mx);
    }
    m_cv.notify_all();
}

bool CPortMailbox::SpinUntilFree()
{
    const auto done = [this] { return m_bCancelled.load() || IsFree(); };
    // Spinning pays only while the owner is awake: waking a sleeping one takes far longer.
    const auto ownerAsleep = [this] { return m_nOwnerState.load() != Draining; };
    return SpinUntil(done, ownerAsleep, ownerAsleep() ? 0 : Budget().nMonitorSpinNs) && IsFree();
}

bool CPortMailbox::ArmWake()
{
    // Announced before the last look, so that an owner freeing the slot after it sets WakeHandle.
    m_bMonitorAsleep.store(true);
    if (IsFree() || m_bCancelled.load()) {
        m_bMonitorAsleep.store(false);
        return false;
    }
    return true;
}

void CPortMailbox::DisarmWake(bool bWoken)
{
    m_bMonitorAsleep.store(false);
    if (bWoken)
        m_wake.Reset();
}

bool CPortMailbox::Put(SItem& item)
{
    if (m_bCancelled.load())
        return false;
    std::swap(m_item, item);
    m_nNext = 0;
    // What comes back is the handled item: keep its byte buffer, drop the rest.
    item.nNotes = item.nBytesAt = 0;
    item.bytes.clear();
    item.fnCall = nullptr;
    m_nSlot.store(Full);
    int nIdle = Idle;
    if (m_nOwnerState.compare_exchange_strong(nIdle, Queued))
        Post();
    return true;
}

void CPortMailbox::Post()
{
    std::shared_ptr<CPortMailbox> pSelf = shared_from_this();
    m_pOwner->PostToOwner([pSelf] { pSelf->Drain(); });
}

void CPortMailbox::Release(int nState)
{
    m_nSlot.store(nState);
    if (nState == Empty && m_bMonitorAsleep.load())
        m_wake.Set();
    WakeSleepers();
}

bool CPortMailbox::RunItem(Clock::time_point tpTurnOver)
{
    if (m_item.fnCall) {
        std::function<void()> fnCall = std::move(m_item.fnCall);
        m_item.fnCall = nullptr;
        fnCall();
        return true;
    }
    const size_t nBytesAt = static_cast<size_t>(m_item.nBytesAt);
    const size_t nBytes = m_item.bytes.size();
    const size_t nTotal = static_cast<size_t>(m_item.nNotes) + nBytes;
    while (m_nNext < nTotal) {
        if (m_bCancelled.load(std::memory_order_relaxed))
            return true;
        const size_t i = m_nNext++;
        if (i < nBytesAt)
            m_pOwner->OnPortNotification(m_item.aMessage[i], m_item.aWParam[i], m_lParam);
        else if (i < nBytesAt + nBytes)
            m_pOwner->OnPortNotification(WM_COMM_RXCHAR, m_item.bytes[i - nBytesAt], m_lParam);
        else
            m_pOwner->OnPortNotification(
                m_item.aMessage[i - nBytes], m_item.aWParam[i - nBytes], m_lParam);
        if (m_nNext % g_nClockStride == 0 && m_nNext < nTotal && Clock::now() >= tpTurnOver)
            return false;
    }
    return true;
}

void CPortMailbox::Drain()
{
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_idOwner = std::this_thread::get_id();
    }
    m_nOwnerState.store(Draining);
    const SBudget budget = Budget();
    const Clock::time_point tpTurnOver = Clock::now() + std::chrono::microseconds(budget.nSliceUs);
    const auto full
        = [this] { return m_bCancelled.load() || m_nSlot.load(std::memory_order_acquire) == Full; };
    const auto monitorIdle = [this] { return !m_bMonitorBusy.load(); };
    for (;;) {
        int nFull = Full;
        if (!m_bCancelled.load() && m_nSlot.compare_exchange_strong(nFull, Running)) {
            // A stop between the look above and the exchange must not see anything run.
            if (m_bCancelled.load()) {
                Release(Empty);
                return;
            }
            if (!RunItem(tpTurnOver)) {
                // The event loop gets its turn (painting, input, timers); the rest comes after.
                m_nOwnerState.store(Queued);
                Release(Full);
                Post();
                return;
            }
            Release(Empty);
            // After a stop the owner and the port may be gone; only this mailbox is left.
            if (m_bCancelled.load())
                return;
            if (!monitorIdle() && Clock::now() >= tpTurnOver) {
                m_nOwnerState.store(Queued);
                Post();
                return;
            }
            if (SpinUntil(full, monitorIdle, budget.nOwnerSpinNs))
                continue;
        }
        if (m_bCancelled.load())
            return;
        m_nOwnerState.store(Idle);
        // An item put in after our last look found us draining and posted nothing: take it.
        int nIdle = Idle;
        if (m_nSlot.load() == Full && m_nOwnerState.compare_exchange_strong(nIdle, Draining))
            continue;
        return;
    }
}

void CPortMailbox::Cancel()
{
    m_bCancelled.store(true);
    m_wake.Set();
    bool bRunningHere;
    {
        std::lock_guard<std::mutex> lock(m_mx);
        bRunningHere = m_idOwner == std::this_thread::get_id();
    }
    m_cv.notify_all();
    if (!bRunningHere)
        Sleep([this] { return m_nSlot.load() != Running; });
}
