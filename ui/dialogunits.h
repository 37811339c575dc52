#pragma once

#include <QFont>
#include <QRect>

// Converts dialog-template units to pixels for a font, the way dialog templates are laid out:
// x units are a quarter of the font's average character width, y units an eighth of its height.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int nUnits) const { return nUnits * m_nCx / 4; }
    int Y(int nUnits) const { return nUnits * m_nCy / 8; }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }

    int m_nCx;
    int m_nCy;
};
