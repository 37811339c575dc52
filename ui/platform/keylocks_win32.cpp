#include "keylocks.h"

#include <windows.h>

CKeyLocks ReadKeyLocks()
{
    // The low bit of a toggle key's state is its lock.
    CKeyLocks locks;
    locks.m_bCaps = (::GetKeyState(VK_CAPITAL) & 1) != 0;
    locks.m_bNum = (::GetKeyState(VK_NUMLOCK) & 1) != 0;
    locks.m_bScroll = (::GetKeyState(VK_SCROLL) & 1) != 0;
    return locks;
}
