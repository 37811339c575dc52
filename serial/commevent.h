#pragma once

#include <cstdint>

// What the monitor thread waits on: a descriptor poll() can wait on (POSIX), or an event HANDLE
// (Windows).
using WaitHandle = intptr_t;
constexpr WaitHandle g_hNoWait = -1;

// A manual-reset signal: once set it stays set until reset.
class CCommEvent {
public:
    // Not set. Handle() is g_hNoWait when the system refused to make one (the reason is the last
    // system error); Set and Reset then do nothing.
    CCommEvent();
    ~CCommEvent();
    CCommEvent(const CCommEvent&) = delete;
    CCommEvent& operator=(const CCommEvent&) = delete;

    // Never blocks.
    void Set();
    void Reset();
    bool IsSet() const;
    WaitHandle Handle() const { return m_hEvent; }

    // Blocks until one of the handles is signalled (a descriptor: readable or hung up) and
    // returns the lowest such index, so earlier entries take precedence. g_hNoWait entries are
    // skipped. -1 on failure, or when nTimeoutUs (if not negative) passed first.
    static int WaitAny(const WaitHandle* pHandles, int nCount, int64_t nTimeoutUs = -1);

private:
    WaitHandle m_hEvent;
};
