#include "eventloop.h"

CEventLoop::CEventLoop() = default;

CEventLoop::~CEventLoop()
{
    StopSignalThread();
}

void CEventLoop::Post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(fn));
    }
    m_cvPosted.notify_one();
}

void CEventLoop::SetTimer(unsigned nPeriodMs, std::function<void()> fnTick)
{
    m_bTimer = true;
    m_nTimerPeriodMs = nPeriodMs;
    m_tpTimer = Clock::now() + std::chrono::milliseconds(nPeriodMs);
    m_fnTick = std::move(fnTick);
}

void CEventLoop::KillTimer()
{
    m_bTimer = false;
}

void CEventLoop::SetDeadline(Clock::time_point tpWhen, std::function<void()> fnExpired)
{
    m_bDeadline = true;
    m_tpDeadline = tpWhen;
    m_fnExpired = std::move(fnExpired);
}

void CEventLoop::MoveDeadline(Clock::time_point tpWhen)
{
    if (!m_fnExpired)
        return;
    m_bDeadline = true;
    m_tpDeadline = tpWhen;
}

void CEventLoop::Quit()
{
    m_bQuit = true;
}

bool CEventLoop::TakeOne(std::function<void()>& fn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty())
        return false;
    fn = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

void CEventLoop::Drain()
{
    std::function<void()> fn;
    while (TakeOne(fn))
        fn();
}

void CEventLoop::Run()
{
    m_bQuit = false;
    while (!m_bQuit) {
        // Before the posted work: a stream of deliveries must not hold the deadline off.
        const Clock::time_point tpNow = Clock::now();
        if (m_bDeadline && tpNow >= m_tpDeadline) {
            m_bDeadline = false;
            std::function<void()> fnExpired = m_fnExpired;
            fnExpired();
            continue;
        }
        if (m_bTimer && tpNow >= m_tpTimer) {
            // Counted from now, so a late tick does not bring a burst of catch-up ticks.
            m_tpTimer = tpNow + std::chrono::milliseconds(m_nTimerPeriodMs);
            std::function<void()> fnTick = m_fnTick;
            fnTick();
            continue;
        }
        std::function<void()> fn;
        if (TakeOne(fn)) {
            fn();
            continue;
        }
        Clock::time_point tpWake = Clock::time_point::max();
        if (m_bTimer)
            tpWake = m_tpTimer;
        if (m_bDeadline && m_tpDeadline < tpWake)
            tpWake = m_tpDeadline;
        std::unique_lock<std::mutex> lock(m_mutex);
        if (tpWake == Clock::time_point::max())
            m_cvPosted.wait(lock, [this]() { return !m_queue.empty(); });
        else
            m_cvPosted.wait_until(lock, tpWake, [this]() { return !m_queue.empty(); });
    }
}
