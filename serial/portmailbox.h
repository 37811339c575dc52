#pragma once

#include "commevent.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CSerialPortOwner;

// The single slot through which the monitor thread hands notifications to the owner's thread.
// An item is a pass's event notes, bytes read from the port and a closing note, or a call such
// as an error box. The owner's thread hands each of them to the owner on its own, in order,
// each one handled before the next; the monitor fills the slot again only when all of it has
// been handled. An idle owner is woken by one posted closure, which takes item after item while
// the monitor is at work, and gives the owner's event loop a turn every few milliseconds. Each
// side spins briefly, only while the other is awake, before it sleeps; the monitor sleeps on
// WakeHandle() together with its own signals.
//
// Shared through a shared_ptr: a closure that runs after a stop (even after a later InitPort)
// touches only its own cancelled mailbox.
class CPortMailbox : public std::enable_shared_from_this<CPortMailbox> {
public:
    static constexpr int g_nMaxNotes = 6;

    struct SItem {
        int nNotes = 0;
        int nBytesAt = 0; // the bytes go after this many notes
        unsigned aMessage[g_nMaxNotes] = {};
        uintptr_t aWParam[g_nMaxNotes] = {};
        std::vector<unsigned char> bytes; // each one a WM_COMM_RXCHAR
        std::function<void()> fnCall; // instead of the above: a call, such as an error box
        bool IsEmpty() const { return nNotes == 0 && bytes.empty() && !fnCall; }
    };

    // How long each side spins before it sleeps or goes back to its event loop, and how long
    // the owner's thread may take notifications before its event loop gets a turn.
    struct SBudget {
        unsigned nMonitorSpinNs;
        unsigned nOwnerSpinNs;
        unsigned nSliceUs;
    };
    static SBudget Budget();
    static void SetBudget(const SBudget& budget);

    CPortMailbox(CSerialPortOwner* pOwner, intptr_t lParam);
    // False when the system would not give it a wake-up signal.
    bool IsUsable() const { return m_wake.Handle() != g_hNoWait; }

    // Monitor thread. The slot is free once everything put in has been handled.
    bool IsFree() const { return m_nSlot.load(std::memory_order_acquire) == Empty; }
    bool IsCancelled() const { return m_bCancelled.load(); }
    // Monitor thread. Spins while the owner's thread is taking items, within the budget; true
    // once the slot is free.
    bool SpinUntilFree();
    // Monitor thread. Between ArmWake and DisarmWake, WakeHandle() is signalled when the slot
    // is freed or the mailbox cancelled. ArmWake is false (and nothing is armed) when the slot
    // is already free.
    bool ArmWake();
    void DisarmWake(bool bWoken);
    WaitHandle WakeHandle() const { return m_wake.Handle(); }
    // Monitor thread, slot free. Puts the item in, waking an idle owner; item is left empty
    // (with a spare byte buffer). False when cancelled: nothing of it will reach the owner.
    bool Put(SItem& item);
    // Monitor thread. Busy while it is reading, writing or sending; idle before it sleeps on
    // the port. The owner's thread waits for a next item only while the monitor is busy.
    void SetMonitorBusy(bool bBusy) { m_bMonitorBusy.store(bBusy); }

    // Stopping thread. Releases the monitor thread; what has not been handed to the owner yet
    // never is. A notification running on another thread is waited for, so nothing reaches
    // the owner afterwards; one running on this very thread (a stop from inside it) is not.
    void Cancel();

private:
    enum : int { Empty, Full, Running }; // the slot
    enum : int { Idle, Queued, Draining }; // the owner's thread

    void Post();
    // Owner's thread: takes items until none is coming or its slice is used up.
    void Drain();
    // Owner's thread, slot Running: hands over the rest of the item; false when the slice ran
    // out first (m_nNext keeps the place).
    bool RunItem(std::chrono::steady_clock::time_point tpTurnOver);
    void Release(int nState);
    template <class Pred> void Sleep(Pred pred);
    void WakeSleepers();

    CSerialPortOwner* const m_pOwner;
    const intptr_t m_lParam;

    std::atomic<int> m_nSlot { Empty };
    std::atomic<int> m_nOwnerState { Idle };
    std::atomic<bool> m_bMonitorBusy { false };
    std::atomic<bool> m_bMonitorAsleep { false };
    CCommEvent m_wake;
    std::atomic<bool> m_bCancelled { false };
    std::atomic<int> m_nSleepers { 0 };
    // Written by the monitor while the slot is Empty, used by the owner while it is Running.
    SItem m_item;
    size_t m_nNext = 0; // notifications of m_item handed over so far

    std::mutex m_mx;
    std::condition_variable m_cv;
    std::thread::id m_idOwner; // guarded by m_mx
};
