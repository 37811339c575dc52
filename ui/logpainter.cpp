#include "logpainter.h"

#include "bremview.h"
#include "logcodec.h"
#include "loglayout.h"
#include "logstore.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <vector>

CLogPainter::CLogPainter(const CLogStore& store, const CLogLayout& layout, const QPalette& palette)
    : m_store(store)
    , m_layout(layout)
    , m_palette(palette)
    , m_font(layout.Font())
    , m_boxFont(layout.BoxFont())
{ }

void CLogPainter::PaintText(QPainter& painter, const QRect& rcDirty, const SFrame& frame) const
{
    const qreal dRow = m_layout.RowHeight();
    const qreal dLeft = frame.m_dLeft;
    const QColor clrText = m_palette.color(QPalette::Text);
    QColor clrBox = clrText;
    clrBox.setAlpha(170);
    const QColor clrHighlight = m_palette.color(QPalette::Highlight);
    const QColor clrHighlightText = m_palette.color(QPalette::HighlightedText);
    const qreal dSpace = QFontMetricsF(m_font).horizontalAdvance(QLatin1Char(' '));
    const int64_t nCaretRow = frame.m_nCaret >= 0 ? m_layout.RowStartOf(frame.m_nCaret) : -1;
    const qreal dMargin = 4;

    if (frame.m_bTimes)
        painter.fillRect(QRectF(0, 0, dLeft - dMargin, frame.m_nHeight),
            m_palette.color(QPalette::AlternateBase));

    std::vector<SPlacedCell> vecCells;
    QString strRun;
    qreal dRunX = 0;
    bool bRunSelected = false;
    int64_t nRow = frame.m_nTop;
    for (qreal dY = 0; nRow >= 0 && dY < frame.m_nHeight; dY += dRow) {
        bool bBreak = false;
        const int64_t nEnd = m_layout.LayoutRow(nRow, &vecCells, &bBreak);
        const int64_t nNext = nEnd == nRow || (nEnd >= m_store.Size() && !bBreak) ? -1 : nEnd;
        if (dY + dRow < rcDirty.top()) {
            nRow = nNext;
            continue;
        }
        const qreal dBase = dY + m_layout.Ascent();
        if (frame.m_bTimes) {
            const int64_t nLine = m_store.LineOf(nRow);
            const int64_t nTime
                = m_store.LineStart(nLine) == nRow ? m_store.LineTime(nLine) : CLogStore::g_nNoTime;
            if (nTime != CLogStore::g_nNoTime) {
                painter.setFont(m_font);
                painter.setPen(m_palette.color(QPalette::PlaceholderText));
                painter.drawText(QPointF(dMargin, dBase), CBremView::TimeText(nTime));
            }
        }
        const auto flushRun = [&] {
            if (strRun.isEmpty())
                return;
            painter.setFont(m_font);
            painter.setPen(bRunSelected ? clrHighlightText : clrText);
            painter.drawText(QPointF(dLeft + dRunX, dBase), strRun);
            strRun.clear();
        };
        for (const SPlacedCell& placed : vecCells) {
            const SLogCell& cell = placed.m_cell;
            const bool bSelected
                = placed.m_nPos >= frame.m_nSelFrom && placed.m_nPos < frame.m_nSelTo;
            const qreal dX = dLeft + placed.m_dX;
            if (bSelected) {
                const qreal dWidth = cell.m_eKind == SLogCell::Break ? dSpace : placed.m_dWidth;
                painter.fillRect(QRectF(dX, dY, dWidth, dRow), clrHighlight);
            }
            if (cell.m_eKind == SLogCell::Glyph && cell.m_nChar < 0x80) {
                if (strRun.isEmpty() || bSelected != bRunSelected) {
                    flushRun();
                    dRunX = placed.m_dX;
                    bRunSelected = bSelected;
                }
                strRun += QLatin1Char(char(cell.m_nChar));
                continue;
            }
            flushRun();
            switch (cell.m_eKind) {
            case SLogCell::Glyph:
                painter.setFont(m_font);
                painter.setPen(bSelected ? clrHighlightText : clrText);
                painter.drawText(QPointF(dX, dBase), QString::fromUcs4(&cell.m_nChar, 1));
                break;
            case SLogCell::Named:
            case SLogCell::Invalid:
            case SLogCell::Hidden: {
                // A box the width of its label; an undecodable byte's box is filled as well.
                const QRectF rcBox(dX + 1, dY + 2, placed.m_dWidth - 2, dRow - 4);
                const QColor clrInk = bSelected ? clrHighlightText : clrBox;
                painter.setFont(m_boxFont);
                if (cell.m_eKind == SLogCell::Invalid) {
                    painter.setPen(Qt::NoPen);
                    painter.setBrush(clrInk);
                    painter.drawRoundedRect(rcBox, 2, 2);
                    painter.setPen(m_palette.color(QPalette::Base));
                } else {
                    painter.setPen(clrInk);
                    painter.setBrush(Qt::NoBrush);
                    painter.drawRoundedRect(rcBox.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
                }
                painter.drawText(rcBox, Qt::AlignCenter, CLogCodec::BoxText(cell));
                painter.setBrush(Qt::NoBrush);
                break;
            }
            default:
                break;
            }
        }
        flushRun();
        if (nRow == nCaretRow)
            painter.fillRect(
                QRectF(dLeft + m_layout.XOf(nRow, frame.m_nCaret) - 1, dY, 2, dRow), clrText);
        nRow = nNext;
    }
}

void CLogPainter::PaintHex(QPainter& painter, const SFrame& frame, int nPerRow, qreal dMargin) const
{
    const qreal dRow = m_layout.RowHeight();
    const int nDigits = CLogCodec::HexDigits(m_store.Size());
    const int64_t nRows = (m_store.Size() + nPerRow - 1) / nPerRow;
    const qreal dChar = QFontMetricsF(m_font).horizontalAdvance(QLatin1Char('0'));
    const QColor clrText = m_palette.color(QPalette::Text);
    painter.setFont(m_font);
    painter.setPen(clrText);
    int64_t nRow = frame.m_nTop;
    // Where byte i of a row stands in the hex digits and in the text after them.
    const auto hexColumn = [nDigits](int i) { return nDigits + 2 + 3 * i + i / 8; };
    const int nTextColumn = hexColumn(nPerRow - 1) + 4;
    for (qreal dY = 0; dY < frame.m_nHeight && nRow < nRows; dY += dRow, ++nRow) {
        const int64_t nOffset = nRow * nPerRow;
        const QString strRow = CLogCodec::HexRow(
            nOffset, m_store.Bytes(nOffset, nOffset + nPerRow), nPerRow, nDigits);
        const QPointF ptText(dMargin, dY + m_layout.Ascent());
        painter.drawText(ptText, strRow);
        // The selection: its bytes' digits and text drawn again, highlighted.
        const int nSelFrom = int(std::clamp<int64_t>(frame.m_nSelFrom - nOffset, 0, nPerRow));
        const int nSelTo = int(std::clamp<int64_t>(frame.m_nSelTo - nOffset, 0, nPerRow));
        if (nSelFrom < nSelTo) {
            QRegion region;
            const auto span = [&](int nColumn, int nChars) {
                region
                    += QRectF(dMargin + dChar * nColumn, dY, dChar * nChars, dRow).toAlignedRect();
            };
            for (int i = nSelFrom; i < nSelTo; ++i)
                span(hexColumn(i), i + 1 < nSelTo && (i + 1) % 8 != 0 ? 3 : 2);
            span(nTextColumn + nSelFrom, nSelTo - nSelFrom);
            painter.save();
            painter.setClipRegion(region);
            painter.fillRect(QRectF(0, dY, dMargin * 2 + dChar * (nTextColumn + nPerRow), dRow),
                m_palette.color(QPalette::Highlight));
            painter.setPen(m_palette.color(QPalette::HighlightedText));
            painter.drawText(ptText, strRow);
            painter.restore();
        }
        // The caret stands before its byte, or after the last one.
        const int64_t nColumn = frame.m_nCaret - nOffset;
        if (frame.m_nCaret >= 0 && nColumn >= 0
            && (nColumn < nPerRow || (nColumn == nPerRow && frame.m_nCaret == m_store.Size()))) {
            const qreal dX = dMargin + dChar * (nDigits + 2 + 3 * nColumn + nColumn / 8);
            painter.fillRect(QRectF(dX - 1, dY, 2, dRow), clrText);
        }
    }
}
