#include "portdelivery.h"

#include <chrono>

bool CPortDelivery::Begin()
{
    std::lock_guard<std::mutex> lock(m_mx);
    if (m_nState.load() != Pending)
        return false;
    m_idRunner = std::this_thread::get_id();
    m_nState.store(Running);
    return true;
}

void CPortDelivery::Finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_nState.store(Done);
    }
    m_cv.notify_all();
}

bool CPortDelivery::Settled() const
{
    const int nState = m_nState.load(std::memory_order_acquire);
    return nState == Done || nState == Cancelled || m_bAbandoned.load(std::memory_order_acquire);
}

bool CPortDelivery::WaitDone(unsigned nSpinMicros)
{
    if (nSpinMicros > 0) {
        const auto tpEnd
            = std::chrono::steady_clock::now() + std::chrono::microseconds(nSpinMicros);
        unsigned nRound = 0;
        while (!Settled()) {
            // Yielding keeps the spin from starving the owner when both share a core.
            std::this_thread::yield();
            if ((++nRound & 7) == 0 && std::chrono::steady_clock::now() >= tpEnd)
                break;
        }
    }
    std::unique_lock<std::mutex> lock(m_mx);
    m_cv.wait(lock, [this] { return Settled(); });
    return m_nState.load() == Done;
}

void CPortDelivery::Cancel()
{
    std::unique_lock<std::mutex> lock(m_mx);
    if (m_nState.load() == Pending)
        m_nState.store(Cancelled);
    m_bAbandoned.store(true);
    m_cv.notify_all();
    if (m_nState.load() == Running && m_idRunner != std::this_thread::get_id())
        m_cv.wait(lock, [this] { return m_nState.load() == Done; });
}
