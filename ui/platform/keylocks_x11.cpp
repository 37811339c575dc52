#include "keylocks.h"

#include <QGuiApplication>

#include <X11/XKBlib.h>

namespace {

struct CIndicatorMasks {
    unsigned m_nCaps = 0;
    unsigned m_nNum = 0;
    unsigned m_nScroll = 0;
};

unsigned IndicatorMask(Display* pDisplay, const char* szName)
{
    int nIndex = -1;
    const Atom atom = XInternAtom(pDisplay, szName, False);
    if (atom == None || !XkbGetNamedIndicator(pDisplay, atom, &nIndex, nullptr, nullptr, nullptr)
        || nIndex < 0 || nIndex >= 32)
        return 0;
    return 1u << nIndex;
}

Display* X11Display()
{
    auto* pX11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return pX11 ? pX11->display() : nullptr;
}

} // namespace

CKeyLocks ReadKeyLocks()
{
    CKeyLocks locks;
    Display* pDisplay = X11Display();
    if (!pDisplay)
        return locks;
    // Indicator positions do not change while the program runs: look them up once.
    static const CIndicatorMasks s_masks = [pDisplay] {
        CIndicatorMasks masks;
        masks.m_nCaps = IndicatorMask(pDisplay, "Caps Lock");
        masks.m_nNum = IndicatorMask(pDisplay, "Num Lock");
        masks.m_nScroll = IndicatorMask(pDisplay, "Scroll Lock");
        return masks;
    }();
    unsigned nState = 0;
    if (XkbGetIndicatorState(pDisplay, XkbUseCoreKbd, &nState) != Success)
        return locks;
    locks.m_bCaps = (nState & s_masks.m_nCaps) != 0;
    locks.m_bNum = (nState & s_masks.m_nNum) != 0;
    locks.m_bScroll = (nState & s_masks.m_nScroll) != 0;
    return locks;
}
