#include "../commevent.h"

#include <windows.h>

namespace {

HANDLE HandleOf(WaitHandle h)
{
    return reinterpret_cast<HANDLE>(h);
}

} // namespace

CCommEvent::CCommEvent()
    : m_hEvent(g_hNoWait)
{
    if (HANDLE h = ::CreateEventA(nullptr, TRUE, FALSE, nullptr))
        m_hEvent = reinterpret_cast<WaitHandle>(h);
}

CCommEvent::~CCommEvent()
{
    if (m_hEvent != g_hNoWait)
        ::CloseHandle(HandleOf(m_hEvent));
}

void CCommEvent::Set()
{
    if (m_hEvent != g_hNoWait)
        ::SetEvent(HandleOf(m_hEvent));
}

void CCommEvent::Reset()
{
    if (m_hEvent != g_hNoWait)
        ::ResetEvent(HandleOf(m_hEvent));
}

bool CCommEvent::IsSet() const
{
    return m_hEvent != g_hNoWait && ::WaitForSingleObject(HandleOf(m_hEvent), 0) == WAIT_OBJECT_0;
}

int CCommEvent::WaitAny(const WaitHandle* pHandles, int nCount, int64_t nTimeoutUs)
{
    constexpr int nMax = 8;
    if (nCount <= 0 || nCount > nMax)
        return -1;
    HANDLE aHandles[nMax];
    int aIndex[nMax];
    DWORD nWait = 0;
    for (int i = 0; i < nCount; ++i) {
        if (pHandles[i] == g_hNoWait)
            continue;
        aHandles[nWait] = HandleOf(pHandles[i]);
        aIndex[nWait++] = i;
    }
    // Rounded up: a wait never ends just before its time.
    const DWORD nMs = nTimeoutUs < 0 ? INFINITE
        : nTimeoutUs >= int64_t(INFINITE - 1) * 1000
        ? INFINITE - 1
        : static_cast<DWORD>((nTimeoutUs + 999) / 1000);
    if (nWait == 0) {
        if (nMs != INFINITE)
            ::Sleep(nMs);
        return -1;
    }
    // Of several signalled handles the system names the lowest index.
    const DWORD nResult = ::WaitForMultipleObjects(nWait, aHandles, FALSE, nMs);
    if (nResult >= WAIT_OBJECT_0 && nResult < WAIT_OBJECT_0 + nWait)
        return aIndex[nResult - WAIT_OBJECT_0];
    return -1;
}
