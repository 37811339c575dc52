// The view's rows on screen: which are shown, the scroll bar, painting, and where a byte is.
#include "bremview.h"

#include "logcodec.h"
#include "logpainter.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal g_dMargin = 4;

} // namespace

qreal CBremView::TextLeft() const
{
    if (!m_bTimestamps || m_bHex)
        return g_dMargin;
    return std::ceil(fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")))
        + 3 * g_dMargin;
}

int CBremView::VisibleRows() const
{
    return std::max(1, int(viewport()->height() / m_layout.RowHeight()));
}

int64_t CBremView::HexRows() const
{
    return (m_store.Size() + m_nHexPerRow - 1) / m_nHexPerRow;
}

int64_t CBremView::TopAtEnd() const
{
    if (m_bHex)
        return std::max<int64_t>(0, HexRows() - VisibleRows());
    if (m_nTopAtEndGeneration != m_layout.Generation() || m_nTopAtEndSize != m_store.Size()
        || m_nTopAtEndRows != VisibleRows()) {
        m_nTopAtEndGeneration = m_layout.Generation();
        m_nTopAtEndSize = m_store.Size();
        m_nTopAtEndRows = VisibleRows();
        m_nTopAtEnd = m_layout.MoveRows(m_layout.RowStartOf(m_store.Size()), -(VisibleRows() - 1));
    }
    return m_nTopAtEnd;
}

void CBremView::UpdateLayoutWidth()
{
    const qreal dWidth = std::max<qreal>(20, viewport()->width() - TextLeft() - g_dMargin);
    // The widest hex row that fits: 16, 8 or 4 bytes.
    const qreal dChar = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int nDigits = CLogCodec::HexDigits(m_store.Size());
    m_nHexPerRow = 4;
    for (int n : { 16, 8 }) {
        if ((nDigits + 3 + 4 * n + n / 8) * dChar <= dWidth) {
            m_nHexPerRow = n;
            break;
        }
    }
    const int64_t nTopPos = m_nTop;
    m_layout.SetWidth(dWidth);
    m_nTop = m_layout.RowStartOf(nTopPos);
}

void CBremView::SyncScrollBar()
{
    QScrollBar* pBar = verticalScrollBar();
    const int64_t nTopAtEnd = TopAtEnd();
    m_bSyncingBar = true;
    if (m_bHex) {
        m_nBarShift = 0;
        m_nHexTop = std::clamp<int64_t>(m_nHexTop, 0, nTopAtEnd);
        pBar->setRange(0, int(nTopAtEnd));
        pBar->setPageStep(VisibleRows());
        pBar->setSingleStep(1);
        pBar->setValue(int(m_nHexTop));
    } else {
        m_nBarShift = 0;
        while ((m_store.Size() >> m_nBarShift) > (int64_t(1) << 30))
            ++m_nBarShift;
        m_nTop = std::min(m_nTop, nTopAtEnd);
        pBar->setRange(0, int(nTopAtEnd >> m_nBarShift));
        pBar->setPageStep(int(std::max<int64_t>(1, (m_store.Size() - nTopAtEnd) >> m_nBarShift)));
        pBar->setValue(int(m_nTop >> m_nBarShift));
    }
    m_bSyncingBar = false;
}

void CBremView::Refresh()
{
    // A screen reader hears of appends from here, once a frame at most, not once a byte.
    if (m_bWindowStale && !m_timerAccessible.isActive() && QAccessible::isActive())
        m_timerAccessible.start();
    UpdateLayoutWidth();
    if (m_bShowCaret) {
        m_bShowCaret = false;
        EnsureCaretVisible();
    }
    SyncScrollBar();
    viewport()->update();
}

int64_t CBremView::TopPos() const
{
    return m_bHex ? m_nHexTop * m_nHexPerRow : m_nTop;
}

void CBremView::scrollContentsBy(int /*nDx*/, int /*nDy*/)
{
    if (m_bSyncingBar)
        return;
    const int nValue = verticalScrollBar()->value();
    if (m_bHex) {
        m_nHexTop = nValue;
    } else if (nValue != int(m_nTop >> m_nBarShift)) {
        m_nTop = m_layout.RowStartOf(int64_t(nValue) << m_nBarShift);
    }
    viewport()->update();
}

void CBremView::wheelEvent(QWheelEvent* pEvent)
{
    m_nWheelRest += pEvent->angleDelta().y();
    const int nSteps = m_nWheelRest / 40; // three rows per notch of 120
    m_nWheelRest -= nSteps * 40;
    if (nSteps != 0)
        ScrollRows(-nSteps);
    pEvent->accept();
}

void CBremView::resizeEvent(QResizeEvent* pEvent)
{
    QAbstractScrollArea::resizeEvent(pEvent);
    Refresh();
}

void CBremView::paintEvent(QPaintEvent* pEvent)
{
    QPainter painter(viewport());
    painter.fillRect(pEvent->rect(), palette().base());
    const CLogPainter logPainter(m_store, m_layout, palette());
    CLogPainter::SFrame frame;
    frame.m_nHeight = viewport()->height();
    frame.m_dLeft = TextLeft();
    frame.m_nSelFrom = m_editor.SelFrom();
    frame.m_nSelTo = m_editor.SelTo();
    frame.m_nCaret = hasFocus() ? m_editor.Caret() : -1;
    frame.m_bTimes = m_bTimestamps;
    if (m_bHex) {
        frame.m_nTop = m_nHexTop;
        logPainter.PaintHex(painter, frame, m_nHexPerRow, g_dMargin);
    } else {
        frame.m_nTop = m_nTop;
        logPainter.PaintText(painter, pEvent->rect(), frame);
    }
}

void CBremView::ScrollRows(int64_t nRows)
{
    if (m_bHex) {
        m_nHexTop = std::clamp<int64_t>(m_nHexTop + nRows, 0, TopAtEnd());
    } else {
        const int64_t nTopAtEnd = TopAtEnd();
        int64_t nTop = m_layout.MoveRows(m_nTop, nRows);
        m_nTop = std::min(nTop, nTopAtEnd);
    }
    SyncScrollBar();
    viewport()->update();
}

void CBremView::EnsureCaretVisible()
{
    const int nVisible = VisibleRows();
    const int64_t nCaret = m_editor.Caret();
    if (m_bHex) {
        const int64_t nRow
            = std::max<int64_t>(0, std::min(nCaret, m_store.Size() - 1)) / m_nHexPerRow;
        if (nRow < m_nHexTop)
            m_nHexTop = nRow;
        else if (nRow >= m_nHexTop + nVisible)
            m_nHexTop = nRow - nVisible + 1;
        return;
    }
    const int64_t nCaretRow = m_layout.RowStartOf(nCaret);
    if (nCaretRow <= m_nTop) {
        m_nTop = nCaretRow;
        return;
    }
    int64_t nRow = m_nTop;
    for (int i = 1; i < nVisible; ++i) {
        nRow = m_layout.NextRow(nRow);
        if (nRow < 0 || nRow > nCaretRow)
            break;
        if (nRow == nCaretRow)
            return;
    }
    m_nTop = m_layout.MoveRows(nCaretRow, -(nVisible - 1));
}

bool CBremView::IsCaretVisible()
{
    FlushPending();
    if (!m_bHex)
        return !CellRect(m_editor.Caret()).isEmpty();
    const int64_t nRow
        = std::max<int64_t>(0, std::min(m_editor.Caret(), m_store.Size() - 1)) / m_nHexPerRow;
    return nRow >= m_nHexTop && nRow < m_nHexTop + VisibleRows();
}

QRect CBremView::CellRect(int64_t nPos) const
{
    if (m_bHex)
        return QRect();
    // The rows on screen, top down, until the one that holds nPos.
    const int64_t nPosRow = m_layout.RowStartOf(nPos);
    int64_t nRow = m_nTop;
    for (int i = 0; i < VisibleRows() && nRow >= 0; ++i, nRow = m_layout.NextRow(nRow)) {
        if (nRow != nPosRow)
            continue;
        std::vector<SPlacedCell> vecCells;
        m_layout.LayoutRow(nRow, &vecCells);
        qreal dX = m_layout.XOf(nRow, nPos);
        qreal dWidth = 1;
        for (const SPlacedCell& placed : vecCells)
            if (placed.m_nPos == nPos)
                dWidth = std::max<qreal>(1, placed.m_dWidth);
        const QRectF rc(TextLeft() + dX, i * m_layout.RowHeight(), dWidth, m_layout.RowHeight());
        return rc.toAlignedRect().translated(viewport()->pos());
    }
    return QRect();
}

int64_t CBremView::PosAtPoint(const QPoint& pt) const
{
    int64_t nRow = m_nTop;
    for (int n = int(std::max(0, pt.y()) / m_layout.RowHeight()); n > 0; --n) {
        const int64_t nNext = m_layout.NextRow(nRow);
        if (nNext < 0)
            break;
        nRow = nNext;
    }
    return m_layout.PosAt(nRow, pt.x() - TextLeft());
}
