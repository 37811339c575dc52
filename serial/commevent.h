#pragma once

#include <cstdint>

// A manual-reset signal that poll() can wait on: once set it stays set until reset.
class CCommEvent {
public:
    // Not set. Fd() is -1 when the system refused to make one; Set and Reset then do nothing.
    CCommEvent();
    ~CCommEvent();
    CCommEvent(const CCommEvent&) = delete;
    CCommEvent& operator=(const CCommEvent&) = delete;

    // Never blocks.
    void Set();
    void Reset();
    bool IsSet() const;
    int Fd() const { return m_hEvent; }

    // Blocks until one of the fds is readable (or hung up) and returns the lowest such index,
    // so earlier entries take precedence. A negative fd is skipped. -1 on failure, or when
    // nTimeoutUs (if not negative) passed first.
    static int WaitAny(const int* pFds, int nCount, int64_t nTimeoutUs = -1);

private:
    int m_hEvent;
};
