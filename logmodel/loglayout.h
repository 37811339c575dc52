#pragma once

#include "logcodec.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>

#include <cstdint>
#include <vector>

class CLogStore;

// A cell placed on a row: where it starts in the log and where it stands on the screen.
struct SPlacedCell {
    SLogCell m_cell;
    int64_t m_nPos = 0;
    qreal m_dX = 0;
    qreal m_dWidth = 0;
};

// Cuts the log's lines into rows that fit the view's width. Nothing is laid out ahead: a row is
// found from the start of its line, and for a very long line from the nearest of the row starts
// noted every few rows the first time the line was walked.
//
// A row start is any position that begins a row: the start of a line, or where the line wraps.
// The last row of the last line ends at Size(); when the log ends in a line break, the empty last
// line is a row of its own that starts at Size().
class CLogLayout {
public:
    explicit CLogLayout(const CLogStore& store);

    void SetFonts(const QFont& font, const QFont& boxFont);
    const QFont& Font() const { return m_font; }
    const QFont& BoxFont() const { return m_boxFont; }
    void SetWidth(qreal dWidth);
    void SetUtf8(bool bUtf8);
    bool IsUtf8() const { return m_bUtf8; }
    // The log changed other than at its end.
    void Invalidate();
    // Changes whenever rows may have moved other than at the end of the log.
    uint64_t Generation() const { return m_nGeneration; }

    qreal RowHeight() const { return m_dRowHeight; }
    qreal Ascent() const { return m_dAscent; }
    qreal BoxWidth(const SLogCell& cell) const;

    // Lays out the row that starts at nStart and returns where the next one starts (Size() at
    // the end). *pBreak tells whether the row ends in a line break.
    int64_t LayoutRow(
        int64_t nStart, std::vector<SPlacedCell>* pCells, bool* pBreak = nullptr) const;
    int64_t RowStartOf(int64_t nPos) const;
    // -1 when there is none.
    int64_t NextRow(int64_t nRowStart) const;
    int64_t PrevRow(int64_t nRowStart) const;
    // Walks up to nRows rows (back when negative); stops at the first or last row.
    int64_t MoveRows(int64_t nRowStart, int64_t nRows) const;

    // Where on its row the caret at nPos stands, and the position nearest to x on a row.
    qreal XOf(int64_t nRowStart, int64_t nPos) const;
    int64_t PosAt(int64_t nRowStart, qreal dX) const;

private:
    qreal CellWidth(const SLogCell& cell, qreal dX) const;
    // The nearest noted row start at or before nPos on the long line starting at nLineStart.
    int64_t MarkBefore(int64_t nLineStart, int64_t nPos) const;

    const CLogStore& m_store;
    QFont m_font;
    QFont m_boxFont;
    qreal m_dWidth = 100;
    bool m_bUtf8 = true;
    qreal m_dRowHeight = 16;
    qreal m_dAscent = 12;
    qreal m_dTab = 64;
    qreal m_adAscii[128] = {};
    mutable QHash<char32_t, qreal> m_hashWidths;
    mutable QHash<quint64, qreal> m_hashBoxes;

    // Row starts of one long line, every g_nMarkRows rows, the line start first.
    uint64_t m_nGeneration = 0;
    mutable int64_t m_nMarkedLine = -1;
    mutable std::vector<int64_t> m_vecMarks;
};
