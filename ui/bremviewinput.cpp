// The view's keyboard and mouse: the caret, the rows it moves over, and typing to the device.
#include "bremview.h"

#include "bremviewhost.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>

namespace {

// The control code Ctrl+key makes, or -1.
int ControlCode(int nKey)
{
    if (nKey >= Qt::Key_A && nKey <= Qt::Key_Z)
        return nKey - Qt::Key_A + 1;
    switch (nKey) {
    case Qt::Key_At:
    case Qt::Key_Space:
    case Qt::Key_2:
        return 0x00;
    case Qt::Key_BracketLeft:
        return 0x1B;
    case Qt::Key_Backslash:
        return 0x1C;
    case Qt::Key_BracketRight:
        return 0x1D;
    case Qt::Key_AsciiCircum:
    case Qt::Key_6:
        return 0x1E;
    case Qt::Key_Underscore:
    case Qt::Key_Minus:
        return 0x1F;
    case Qt::Key_Backspace:
        return 0x7F;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0A;
    default:
        return -1;
    }
}

} // namespace

bool CBremView::focusNextPrevChild(bool /*bNext*/)
{
    return false; // Tab is a character to send
}

void CBremView::focusInEvent(QFocusEvent* pEvent)
{
    QAbstractScrollArea::focusInEvent(pEvent);
    viewport()->update();
}

void CBremView::focusOutEvent(QFocusEvent* pEvent)
{
    QAbstractScrollArea::focusOutEvent(pEvent);
    viewport()->update();
}

void CBremView::keyPressEvent(QKeyEvent* pEvent)
{
    const Qt::KeyboardModifiers mods = pEvent->modifiers() & ~Qt::KeypadModifier;
    const bool bCtrl = mods & Qt::ControlModifier;
    const bool bShift = mods & Qt::ShiftModifier;
    const int nKey = pEvent->key();
    pEvent->accept();
    // Keys that make no character act on the log only and send nothing.
    switch (nKey) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!(mods & (Qt::AltModifier | Qt::MetaModifier)))
            Navigate(nKey, bCtrl, bShift);
        return;
    case Qt::Key_Delete:
        if (mods == Qt::NoModifier)
            AfterEdit(m_editor.DeleteCell(true));
        return;
    case Qt::Key_Insert:
        return;
    default:
        break;
    }
    // Alt with a key does nothing here: it never puts a character into the log unsent.
    if (mods & (Qt::AltModifier | Qt::MetaModifier))
        return;
    if (bCtrl) {
        const int nCode = ControlCode(nKey);
        if (nCode >= 0)
            OnChar(char32_t(nCode));
        return;
    }
    switch (nKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_baEnter == QByteArray(1, '\r'))
            OnChar(U'\r');
        else
            OnEnter();
        return;
    case Qt::Key_Backspace:
        OnChar(U'\b');
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        OnChar(U'\t');
        return;
    case Qt::Key_Escape:
        OnChar(0x1B);
        return;
    default:
        break;
    }
    const QString strText = pEvent->text();
    if (strText.isEmpty()) {
        pEvent->ignore();
        return;
    }
    for (char32_t nChar : strText.toUcs4())
        OnChar(nChar);
}

void CBremView::OnChar(char32_t nChar)
{
    if (!m_pHost || m_pHost->PortOpenFlag() == 0) {
        if (m_pHost)
            m_pHost->ViewMessageBox(QStringLiteral("COM Not Open"));
        return;
    }
    const QByteArray baOut
        = nChar < 0x80 ? QByteArray(1, char(nChar)) : QString::fromUcs4(&nChar, 1).toUtf8();
    m_pHost->WriteToPort(
        reinterpret_cast<const unsigned char*>(baOut.constData()), uint32_t(baOut.size()));
    AfterEdit(m_editor.Type(baOut));
}

void CBremView::OnEnter()
{
    if (!m_pHost || m_pHost->PortOpenFlag() == 0) {
        if (m_pHost)
            m_pHost->ViewMessageBox(QStringLiteral("COM Not Open"));
        return;
    }
    m_pHost->WriteToPort(
        reinterpret_cast<const unsigned char*>(m_baEnter.constData()), uint32_t(m_baEnter.size()));
    AfterEdit(m_editor.Type(LineEnds() == ELineEnds::AsReceived ? m_baEnter : QByteArray(1, '\r')));
}

void CBremView::Navigate(int nKey, bool bCtrl, bool bShift)
{
    const int64_t nPage = std::max(1, VisibleRows() - 1);
    if (m_bHex) {
        // Rows of bytes scroll; the caret stays where typing goes.
        const int64_t nRows = nKey == Qt::Key_Up ? -1
            : nKey == Qt::Key_Down               ? 1
            : nKey == Qt::Key_PageUp             ? -nPage
            : nKey == Qt::Key_PageDown           ? nPage
            : nKey == Qt::Key_Home               ? -HexRows()
            : nKey == Qt::Key_End                ? HexRows()
                                                 : 0;
        if (nRows != 0)
            ScrollRows(nRows);
        return;
    }
    switch (nKey) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const bool bForward = nKey == Qt::Key_Right;
        if (HasSelection() && !bShift)
            MoveCaret(bForward ? m_editor.SelTo() : m_editor.SelFrom(), false);
        else
            MoveCaret(m_editor.CellBoundary(m_editor.Caret(), bForward), bShift);
        break;
    }
    case Qt::Key_Up:
        MoveCaretRows(-1, bShift);
        break;
    case Qt::Key_Down:
        MoveCaretRows(1, bShift);
        break;
    case Qt::Key_PageUp:
        MoveCaretRows(-nPage, bShift);
        break;
    case Qt::Key_PageDown:
        MoveCaretRows(nPage, bShift);
        break;
    case Qt::Key_Home:
        MoveCaret(bCtrl ? 0 : m_layout.RowStartOf(m_editor.Caret()), bShift);
        break;
    case Qt::Key_End: {
        if (bCtrl) {
            MoveCaret(m_store.Size(), bShift);
            break;
        }
        std::vector<SPlacedCell> vecCells;
        bool bBreak = false;
        const int64_t nRow = m_layout.RowStartOf(m_editor.Caret());
        int64_t nEnd = m_layout.LayoutRow(nRow, &vecCells, &bBreak);
        if ((bBreak || nEnd < m_store.Size()) && !vecCells.empty())
            nEnd = vecCells.back().m_nPos; // before the break, or before a wrapped row's last cell
        MoveCaret(nEnd, bShift);
        break;
    }
    default:
        break;
    }
}

void CBremView::MoveCaret(int64_t nPos, bool bExtend)
{
    SetSelection(bExtend ? m_editor.Anchor() : nPos, nPos);
}

void CBremView::MoveCaretRows(int64_t nRows, bool bExtend)
{
    const int64_t nRow = m_layout.RowStartOf(m_editor.Caret());
    const qreal dX = m_dCaretX >= 0 ? m_dCaretX : m_layout.XOf(nRow, m_editor.Caret());
    MoveCaret(m_layout.PosAt(m_layout.MoveRows(nRow, nRows), dX), bExtend);
    m_dCaretX = dX;
}

void CBremView::inputMethodEvent(QInputMethodEvent* pEvent)
{
    // Committed text is typed text.
    for (char32_t nChar : pEvent->commitString().toUcs4())
        OnChar(nChar);
    pEvent->accept();
}

QVariant CBremView::inputMethodQuery(Qt::InputMethodQuery eQuery) const
{
    switch (eQuery) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle: {
        const QRect rc = CellRect(m_editor.Caret());
        return rc.isEmpty() ? QRect(0, 0, 1, int(m_layout.RowHeight()))
                            : rc.adjusted(0, 0, 1 - rc.width(), 0);
    }
    default:
        return QAbstractScrollArea::inputMethodQuery(eQuery);
    }
}

void CBremView::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton || m_bHex)
        return;
    m_timerFrame.stop();
    Refresh(); // the rows on screen must be the ones hit
    MoveCaret(
        PosAtPoint(pEvent->position().toPoint()), pEvent->modifiers().testFlag(Qt::ShiftModifier));
}

void CBremView::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (!(pEvent->buttons() & Qt::LeftButton) || m_bHex)
        return;
    const QPoint pt = pEvent->position().toPoint();
    if (pt.y() < 0)
        ScrollRows(-1);
    else if (pt.y() >= viewport()->height())
        ScrollRows(1);
    const QPoint ptIn(pt.x(), std::clamp(pt.y(), 0, viewport()->height() - 1));
    m_editor.MoveCaret(PosAtPoint(ptIn), true);
    m_dCaretX = -1;
    viewport()->update();
}

void CBremView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    pEvent->accept();
    SyncAccessible(false);
}
