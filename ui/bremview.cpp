#include "bremview.h"

#include "bremviewhost.h"

#include <QBuffer>
#include <QClipboard>
#include <QDateTime>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

// Appends reach the screen once per frame: the cost of finding the rows and painting them is
// paid per frame, not per byte.
constexpr int g_nFrameMs = 30;
// Edits larger than this keep no undo step, and copies larger than this are refused.
constexpr int64_t g_nMaxCopyBytes = 64 * 1024 * 1024;
constexpr qreal g_dMargin = 4;
const char* const g_szBytesMime = "application/x-brem-log-bytes";

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

CBremView::CBremView(QWidget* pParent)
    : QAbstractScrollArea(pParent)
    , m_layout(m_store)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setKerning(false);
    QFont boxFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    boxFont.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.8));
    setFont(font);
    m_layout.SetFonts(font, boxFont);

    // Always there, so that a bar coming and going cannot change the width the rows wrap at.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    setBackgroundRole(QPalette::Base);

    m_timerFrame.setSingleShot(true);
    m_timerFrame.setInterval(g_nFrameMs);
    connect(&m_timerFrame, &QTimer::timeout, this, &CBremView::Refresh);
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this](int nAction) {
        if (m_bHex)
            return; // rows are the bar's own steps
        const int64_t nPage = std::max(1, VisibleRows() - 1);
        switch (nAction) {
        case QAbstractSlider::SliderSingleStepAdd:
            ScrollRows(1);
            break;
        case QAbstractSlider::SliderSingleStepSub:
            ScrollRows(-1);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            ScrollRows(nPage);
            break;
        case QAbstractSlider::SliderPageStepSub:
            ScrollRows(-nPage);
            break;
        default:
            return;
        }
        verticalScrollBar()->setSliderPosition(int(m_nTop >> m_nBarShift));
    });
}

CBremView::~CBremView() = default;

void CBremView::SetHost(CBremViewHost* pHost)
{
    m_pHost = pHost;
}

void CBremView::AppendLine(const std::string& strText)
{
    const size_t nLength = std::min(strText.find('\0'), strText.size());
    if (m_store.Size() + int64_t(nLength) + 2 > g_nMaxLogBytes) {
        ReportFull();
        return;
    }
    m_store.Append(strText.data(), int64_t(nLength));
    m_store.Append("\r\n", 2);
    AfterAppend();
}

void CBremView::AppendRaw(const unsigned char* pBytes, uint32_t nCount)
{
    if (!pBytes)
        return;
    bool bAppended = false;
    for (uint32_t i = 0; i < nCount; ++i) {
        const unsigned char nByte = pBytes[i];
        if (nByte == '\n')
            continue; // an LF touches nothing, not even the caret
        bAppended = true;
        if (m_store.Size() + 2 > g_nMaxLogBytes)
            ReportFull();
        else if (nByte == '\r')
            m_store.Append("\r\n", 2);
        else if (nByte != 0)
            m_store.AppendByte(char(nByte));
    }
    if (bAppended)
        AfterAppend();
}

void CBremView::AfterAppend()
{
    // Appends cannot be undone, and the operator's edits before one no longer can either.
    if (!m_vecUndo.empty())
        m_vecUndo.clear();
    m_nCaret = m_nAnchor = m_store.Size();
    m_dCaretX = -1;
    m_bShowCaret = true;
    ScheduleFrame();
}

void CBremView::ReportFull()
{
    if (m_bFullReported)
        return;
    m_bFullReported = true;
    // Not from inside the append: the box waits for the operator, the bytes do not.
    QTimer::singleShot(0, this, [this] {
        if (m_pHost)
            m_pHost->ViewMessageBox(
                QStringLiteral("The log is full: it holds at most %1 MB. What arrives from now on "
                               "is not kept. Save the log and press Clear to go on.")
                    .arg(g_nMaxLogBytes >> 20));
    });
}

void CBremView::ScheduleFrame()
{
    if (!m_timerFrame.isActive())
        m_timerFrame.start();
}

void CBremView::ClearLog()
{
    m_store.Clear();
    StoreReplaced();
}

QByteArray CBremView::LogBytes() const
{
    return m_store.Bytes(0, m_store.Size());
}

void CBremView::SetLogBytes(const QByteArray& baBytes)
{
    QBuffer buffer;
    buffer.setData(baBytes);
    buffer.open(QIODevice::ReadOnly);
    m_store.ReadFrom(buffer, baBytes.size(), nullptr);
    StoreReplaced();
}

void CBremView::StoreReplaced()
{
    m_vecUndo.clear();
    m_vecUndo.shrink_to_fit();
    m_layout.Invalidate();
    m_nCaret = m_nAnchor = 0;
    m_dCaretX = -1;
    m_nTop = 0;
    m_nHexTop = 0;
    m_bFullReported = false;
    m_bShowCaret = true;
    Refresh();
}

void CBremView::FlushPending()
{
    m_timerFrame.stop();
    Refresh();
}

void CBremView::SetLatin1(bool bLatin1)
{
    m_layout.SetUtf8(!bLatin1);
    m_nTop = m_layout.RowStartOf(m_nTop);
    m_bShowCaret = true;
    Refresh();
}

void CBremView::SetHex(bool bHex)
{
    m_bHex = bHex;
    m_bShowCaret = true;
    Refresh();
}

void CBremView::SetTimestamps(bool bOn)
{
    m_bTimestamps = bOn;
    Refresh();
}

QString CBremView::TimeText(int64_t nMsecs)
{
    return QDateTime::fromMSecsSinceEpoch(nMsecs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

void CBremView::SetSelection(int64_t nAnchor, int64_t nCaret)
{
    m_nAnchor = std::clamp<int64_t>(nAnchor, 0, m_store.Size());
    m_nCaret = std::clamp<int64_t>(nCaret, 0, m_store.Size());
    m_dCaretX = -1;
    m_bShowCaret = true;
    Refresh();
}

QByteArray CBremView::SelectedBytes() const
{
    return m_store.Bytes(std::min(m_nCaret, m_nAnchor), std::max(m_nCaret, m_nAnchor));
}

// ---- scrolling and the frame

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
    UpdateLayoutWidth();
    if (m_bShowCaret) {
        m_bShowCaret = false;
        EnsureCaretVisible();
    }
    SyncScrollBar();
    viewport()->update();
}

void CBremView::EnsureCaretVisible()
{
    const int nVisible = VisibleRows();
    if (m_bHex) {
        const int64_t nRow
            = std::max<int64_t>(0, std::min(m_nCaret, m_store.Size() - 1)) / m_nHexPerRow;
        if (nRow < m_nHexTop)
            m_nHexTop = nRow;
        else if (nRow >= m_nHexTop + nVisible)
            m_nHexTop = nRow - nVisible + 1;
        return;
    }
    const int64_t nCaretRow = m_layout.RowStartOf(m_nCaret);
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

int64_t CBremView::TopPos() const
{
    return m_bHex ? m_nHexTop * m_nHexPerRow : m_nTop;
}

bool CBremView::IsCaretVisible()
{
    FlushPending();
    const int nVisible = VisibleRows();
    if (m_bHex) {
        const int64_t nRow
            = std::max<int64_t>(0, std::min(m_nCaret, m_store.Size() - 1)) / m_nHexPerRow;
        return nRow >= m_nHexTop && nRow < m_nHexTop + nVisible;
    }
    const int64_t nCaretRow = m_layout.RowStartOf(m_nCaret);
    int64_t nRow = m_nTop;
    for (int i = 0; i < nVisible && nRow >= 0; ++i) {
        if (nRow == nCaretRow)
            return true;
        nRow = m_layout.NextRow(nRow);
    }
    return false;
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

// ---- painting

void CBremView::paintEvent(QPaintEvent* pEvent)
{
    QPainter painter(viewport());
    painter.fillRect(pEvent->rect(), palette().base());
    if (m_bHex)
        PaintHex(painter);
    else
        PaintText(painter, pEvent->rect());
}

void CBremView::PaintText(QPainter& painter, const QRect& rcDirty)
{
    const qreal dRow = m_layout.RowHeight();
    const qreal dLeft = TextLeft();
    const QColor clrText = palette().color(QPalette::Text);
    QColor clrBox = clrText;
    clrBox.setAlpha(170);
    const QColor clrHighlight = palette().color(QPalette::Highlight);
    const QColor clrHighlightText = palette().color(QPalette::HighlightedText);
    const QFont fontText = font();
    QFont fontBox = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    fontBox.setPointSizeF(std::max(6.0, fontText.pointSizeF() * 0.8));
    const int64_t nSelFrom = std::min(m_nCaret, m_nAnchor);
    const int64_t nSelTo = std::max(m_nCaret, m_nAnchor);
    const int64_t nCaretRow = hasFocus() ? m_layout.RowStartOf(m_nCaret) : -1;

    if (m_bTimestamps) {
        QColor clrGutter = palette().color(QPalette::AlternateBase);
        painter.fillRect(QRectF(0, 0, dLeft - g_dMargin, viewport()->height()), clrGutter);
    }

    std::vector<SPlacedCell> vecCells;
    QString strRun;
    qreal dRunX = 0;
    bool bRunSelected = false;
    int64_t nRow = m_nTop;
    for (qreal dY = 0; nRow >= 0 && dY < viewport()->height(); dY += dRow) {
        bool bBreak = false;
        const int64_t nEnd = m_layout.LayoutRow(nRow, &vecCells, &bBreak);
        const int64_t nNext = nEnd == nRow || (nEnd >= m_store.Size() && !bBreak) ? -1 : nEnd;
        if (dY + dRow < rcDirty.top()) {
            nRow = nNext;
            continue;
        }
        const qreal dBase = dY + m_layout.Ascent();
        if (m_bTimestamps) {
            const int64_t nLine = m_store.LineOf(nRow);
            const int64_t nTime
                = m_store.LineStart(nLine) == nRow ? m_store.LineTime(nLine) : CLogStore::g_nNoTime;
            if (nTime != CLogStore::g_nNoTime) {
                painter.setFont(fontText);
                painter.setPen(palette().color(QPalette::PlaceholderText));
                painter.drawText(QPointF(g_dMargin, dBase), TimeText(nTime));
            }
        }
        const auto flushRun = [&] {
            if (strRun.isEmpty())
                return;
            painter.setFont(fontText);
            painter.setPen(bRunSelected ? clrHighlightText : clrText);
            painter.drawText(QPointF(dLeft + dRunX, dBase), strRun);
            strRun.clear();
        };
        for (const SPlacedCell& placed : vecCells) {
            const SLogCell& cell = placed.m_cell;
            const bool bSelected = placed.m_nPos >= nSelFrom && placed.m_nPos < nSelTo;
            const qreal dX = dLeft + placed.m_dX;
            if (bSelected) {
                const qreal dWidth = cell.m_eKind == SLogCell::Break
                    ? fontMetrics().horizontalAdvance(QLatin1Char(' '))
                    : placed.m_dWidth;
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
                painter.setFont(fontText);
                painter.setPen(bSelected ? clrHighlightText : clrText);
                painter.drawText(QPointF(dX, dBase), QString::fromUcs4(&cell.m_nChar, 1));
                break;
            case SLogCell::Named:
            case SLogCell::Invalid:
            case SLogCell::Hidden: {
                // A box the width of its name; an undecodable byte is a filled box, so that
                // "FF" the byte and FF the form feed cannot be mistaken for each other.
                const QRectF rcBox(dX + 1, dY + 2, placed.m_dWidth - 2, dRow - 4);
                const QColor clrInk = bSelected ? clrHighlightText : clrBox;
                painter.setFont(fontBox);
                if (cell.m_eKind == SLogCell::Invalid) {
                    painter.setPen(Qt::NoPen);
                    painter.setBrush(clrInk);
                    painter.drawRoundedRect(rcBox, 2, 2);
                    painter.setPen(palette().color(QPalette::Base));
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
                QRectF(dLeft + m_layout.XOf(nRow, m_nCaret) - 1, dY, 2, dRow), clrText);
        nRow = nNext;
    }
}

void CBremView::PaintHex(QPainter& painter)
{
    const qreal dRow = m_layout.RowHeight();
    const int nDigits = CLogCodec::HexDigits(m_store.Size());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    int64_t nRow = m_nHexTop;
    for (qreal dY = 0; nRow < HexRows() && dY < viewport()->height(); dY += dRow, ++nRow) {
        const int64_t nOffset = nRow * m_nHexPerRow;
        painter.drawText(QPointF(g_dMargin, dY + m_layout.Ascent()),
            CLogCodec::HexRow(
                nOffset, m_store.Bytes(nOffset, nOffset + m_nHexPerRow), m_nHexPerRow, nDigits));
    }
}

// ---- keyboard and mouse

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
        if (mods == Qt::NoModifier && !m_bHex)
            DeleteCell(true);
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
        OnChar(U'\r');
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

void CBremView::Navigate(int nKey, bool bCtrl, bool bShift)
{
    const int64_t nPage = std::max(1, VisibleRows() - 1);
    if (m_bHex) {
        switch (nKey) {
        case Qt::Key_Up:
            ScrollRows(-1);
            break;
        case Qt::Key_Down:
            ScrollRows(1);
            break;
        case Qt::Key_PageUp:
            ScrollRows(-nPage);
            break;
        case Qt::Key_PageDown:
            ScrollRows(nPage);
            break;
        case Qt::Key_Home:
            ScrollRows(-HexRows());
            break;
        case Qt::Key_End:
            ScrollRows(HexRows());
            break;
        default:
            break;
        }
        return;
    }
    switch (nKey) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const bool bForward = nKey == Qt::Key_Right;
        if (HasSelection() && !bShift)
            MoveCaret(
                bForward ? std::max(m_nCaret, m_nAnchor) : std::min(m_nCaret, m_nAnchor), false);
        else
            MoveCaret(CellBoundary(m_nCaret, bForward), bShift);
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
        MoveCaret(bCtrl ? 0 : m_layout.RowStartOf(m_nCaret), bShift);
        break;
    case Qt::Key_End: {
        if (bCtrl) {
            MoveCaret(m_store.Size(), bShift);
            break;
        }
        std::vector<SPlacedCell> vecCells;
        bool bBreak = false;
        const int64_t nRow = m_layout.RowStartOf(m_nCaret);
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
        const int64_t nRow = m_layout.RowStartOf(m_nCaret);
        int nIndex = 0;
        for (int64_t n = m_nTop; n >= 0 && n < nRow && nIndex < VisibleRows(); ++nIndex)
            n = m_layout.NextRow(n);
        return QRectF(TextLeft() + m_layout.XOf(nRow, m_nCaret), nIndex * m_layout.RowHeight(), 1,
            m_layout.RowHeight())
            .toRect();
    }
    default:
        return QAbstractScrollArea::inputMethodQuery(eQuery);
    }
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
    m_nCaret = PosAtPoint(ptIn);
    m_dCaretX = -1;
    viewport()->update();
}

void CBremView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    pEvent->accept();
}

// ---- editing

void CBremView::MoveCaret(int64_t nPos, bool bExtend)
{
    m_nCaret = std::clamp<int64_t>(nPos, 0, m_store.Size());
    if (!bExtend)
        m_nAnchor = m_nCaret;
    m_dCaretX = -1;
    m_bShowCaret = true;
    Refresh();
}

void CBremView::MoveCaretRows(int64_t nRows, bool bExtend)
{
    const int64_t nRow = m_layout.RowStartOf(m_nCaret);
    const qreal dX = m_dCaretX >= 0 ? m_dCaretX : m_layout.XOf(nRow, m_nCaret);
    MoveCaret(m_layout.PosAt(m_layout.MoveRows(nRow, nRows), dX), bExtend);
    m_dCaretX = dX;
}

int64_t CBremView::CellBoundary(int64_t nPos, bool bForward) const
{
    std::vector<SPlacedCell> vecCells;
    if (bForward) {
        if (nPos >= m_store.Size())
            return m_store.Size();
        const int64_t nEnd = m_layout.LayoutRow(m_layout.RowStartOf(nPos), &vecCells);
        for (const SPlacedCell& placed : vecCells)
            if (placed.m_nPos + placed.m_cell.m_nBytes > nPos)
                return placed.m_nPos + placed.m_cell.m_nBytes;
        return nEnd;
    }
    if (nPos <= 0)
        return 0;
    const int64_t nRow = m_layout.RowStartOf(nPos - 1);
    m_layout.LayoutRow(nRow, &vecCells);
    for (auto it = vecCells.rbegin(); it != vecCells.rend(); ++it)
        if (it->m_nPos < nPos)
            return it->m_nPos;
    return nRow;
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
    if (m_bHex)
        return; // the hex view is read-only; what went out still went out
    if (nChar == U'\r')
        TypeBytes(QByteArrayLiteral("\r\n"));
    else if (nChar == U'\b')
        DeleteCell(false);
    else
        TypeBytes(baOut);
}

void CBremView::TypeBytes(const QByteArray& baBytes)
{
    EditSelection(baBytes, true);
}

void CBremView::DeleteCell(bool bForward)
{
    if (!HasSelection()) {
        const int64_t nOther = CellBoundary(m_nCaret, bForward);
        if (nOther == m_nCaret)
            return;
        m_nAnchor = nOther;
    }
    EditSelection(QByteArray(), false);
}

void CBremView::EditSelection(const QByteArray& baBytes, bool bTyping)
{
    const int64_t nFrom = std::min(m_nCaret, m_nAnchor);
    const int64_t nTo = std::max(m_nCaret, m_nAnchor);
    if (m_store.Size() - (nTo - nFrom) + baBytes.size() > g_nMaxLogBytes) {
        ReportFull();
        return;
    }
    const bool bJoin = bTyping && nFrom == nTo && !m_vecUndo.empty() && m_vecUndo.back().m_bTyping
        && m_vecUndo.back().m_nPos + m_vecUndo.back().m_nInserted == nFrom;
    if (bJoin) {
        m_vecUndo.back().m_nInserted += baBytes.size();
    } else if (nTo - nFrom > g_nMaxCopyBytes) {
        m_vecUndo.clear(); // too large to keep a copy of
    } else {
        SUndo undo;
        undo.m_nPos = nFrom;
        undo.m_baRemoved = m_store.Bytes(nFrom, nTo);
        undo.m_nInserted = baBytes.size();
        undo.m_nCaret = m_nCaret;
        undo.m_nAnchor = m_nAnchor;
        undo.m_bTyping = bTyping;
        m_vecUndo.push_back(std::move(undo));
    }
    m_store.Replace(nFrom, nTo, baBytes.constData(), baBytes.size());
    m_layout.Invalidate();
    m_nTop = m_layout.RowStartOf(std::min(m_nTop, nFrom));
    MoveCaret(nFrom + baBytes.size(), false);
}

void CBremView::Undo()
{
    if (m_bHex || m_vecUndo.empty())
        return;
    const SUndo undo = std::move(m_vecUndo.back());
    m_vecUndo.pop_back();
    m_store.Replace(undo.m_nPos, undo.m_nPos + undo.m_nInserted, undo.m_baRemoved.constData(),
        undo.m_baRemoved.size());
    m_layout.Invalidate();
    m_nTop = m_layout.RowStartOf(std::min(m_nTop, undo.m_nPos));
    SetSelection(undo.m_nAnchor, undo.m_nCaret);
}

void CBremView::Copy()
{
    if (m_bHex || !HasSelection())
        return;
    if (std::abs(m_nCaret - m_nAnchor) > g_nMaxCopyBytes) {
        if (m_pHost)
            m_pHost->ViewMessageBox(
                QStringLiteral("The selection is too large to copy: %1 MB at most.")
                    .arg(g_nMaxCopyBytes >> 20));
        return;
    }
    const QByteArray baBytes = SelectedBytes();
    auto* pData = new QMimeData;
    // The bytes themselves for pasting here, text for other programs.
    pData->setData(QLatin1String(g_szBytesMime), baBytes);
    pData->setText(CLogCodec::BytesToText(baBytes, m_layout.IsUtf8()));
    QGuiApplication::clipboard()->setMimeData(pData);
}

void CBremView::Cut()
{
    if (m_bHex || !HasSelection())
        return;
    Copy();
    if (std::abs(m_nCaret - m_nAnchor) <= g_nMaxCopyBytes)
        EditSelection(QByteArray(), false);
}

void CBremView::Paste()
{
    if (m_bHex)
        return;
    const QMimeData* pData = QGuiApplication::clipboard()->mimeData();
    if (!pData)
        return;
    // Pasted text goes into the log only; nothing is sent.
    if (pData->hasFormat(QLatin1String(g_szBytesMime)))
        EditSelection(pData->data(QLatin1String(g_szBytesMime)), false);
    else if (pData->hasText())
        EditSelection(CLogCodec::TextToBytes(pData->text()), false);
}
