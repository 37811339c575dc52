#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// One hand-over from the monitor thread to the owner's thread, shared by both through a
// shared_ptr: a closure that runs late, even after a later InitPort, only ever touches its own.
class CPortDelivery {
public:
    // Owner's thread, before the work. False when the delivery was cancelled: do nothing.
    bool Begin();
    // Owner's thread, after the work.
    void Finish();

    // Monitor thread. Returns once the work has finished (true) or the delivery was given up
    // (false). Spins for up to nSpinMicros first: waking a sleeping thread costs more than a
    // short delivery.
    bool WaitDone(unsigned nSpinMicros);

    // Stopping thread. Releases the monitor thread; a closure not yet begun will do nothing.
    // Work already running on another thread is waited for, so nothing reaches the owner
    // after the stop; work running on this very thread (a stop from inside it) is not.
    void Cancel();

private:
    enum : int { Pending, Running, Done, Cancelled };
    bool Settled() const;

    std::atomic<int> m_nState { Pending };
    std::atomic<bool> m_bAbandoned { false };
    std::thread::id m_idRunner;
    std::mutex m_mx;
    std::condition_variable m_cv;
};
