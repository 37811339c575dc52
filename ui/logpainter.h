#pragma once

#include <QPalette>
#include <QRect>

#include <cstdint>

class CLogLayout;
class CLogStore;
class QFont;
class QPainter;

// Draws the rows of the log that a view shows, as text or as hex, from the model alone.
class CLogPainter {
public:
    // What one frame shows: the rows from m_nTop down m_nHeight pixels, text from m_dLeft on (a
    // gutter of arrival times before it, if asked), the selection, and the caret if it is drawn.
    struct SFrame {
        int64_t m_nTop = 0;
        int m_nHeight = 0;
        qreal m_dLeft = 0;
        int64_t m_nSelFrom = 0;
        int64_t m_nSelTo = 0;
        int64_t m_nCaret = -1; // -1: no caret
        bool m_bTimes = false;
    };

    CLogPainter(const CLogStore& store, const CLogLayout& layout, const QPalette& palette);

    void PaintText(QPainter& painter, const QRect& rcDirty, const SFrame& frame) const;
    // Hex rows from m_nTop (a row number) on, nPerRow bytes each; the caret as a bar before its
    // byte's hex digits.
    void PaintHex(QPainter& painter, const SFrame& frame, int nPerRow, qreal dMargin) const;

private:
    const CLogStore& m_store;
    const CLogLayout& m_layout;
    const QPalette& m_palette;
    const QFont& m_font;
    const QFont& m_boxFont;
};
