#include "dialogunits.h"

#include <QFontMetrics>

CDialogUnits::CDialogUnits(const QFont& font)
{
    // Average over the 52 letters, rounded, as dialog base units are defined.
    const QFontMetrics fm(font);
    const int nWidth = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nCx = (nWidth / 26 + 1) / 2;
    if (m_nCx < 1)
        m_nCx = 1;
    m_nCy = fm.height() > 0 ? fm.height() : 1;
}
