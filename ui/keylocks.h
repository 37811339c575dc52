#pragma once

// The state of the three lock keys, read from the display server where it can tell.
struct CKeyLocks {
    bool m_bCaps = false;
    bool m_bNum = false;
    bool m_bScroll = false;
    bool operator==(const CKeyLocks& other) const
    {
        return m_bCaps == other.m_bCaps && m_bNum == other.m_bNum && m_bScroll == other.m_bScroll;
    }
    bool operator!=(const CKeyLocks& other) const { return !(*this == other); }
};

// All off when no display can tell (offscreen, Wayland, no X11 at build time).
CKeyLocks ReadKeyLocks();
