#include "commport.h"

#include <atomic>

namespace {

std::atomic<const CCommPort::SLineHooks*> g_pLineHooks { nullptr };

} // namespace

void CCommPort::SetLineHooks(const SLineHooks* pHooks)
{
    g_pLineHooks.store(pHooks);
}

bool CCommPort::EscapeCommFunction(uint32_t dwFunc)
{
    if (const SLineHooks* pHooks = g_pLineHooks.load())
        return pHooks->pfnEscape(dwFunc);
    return SystemEscape(dwFunc);
}

bool CCommPort::GetCommModemStatus(uint32_t& dwStatus) const
{
    if (const SLineHooks* pHooks = g_pLineHooks.load())
        return pHooks->pfnModemStatus(dwStatus);
    return SystemModemStatus(dwStatus);
}
