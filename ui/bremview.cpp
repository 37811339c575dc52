#include "bremview.h"

#include "bremviewaccessible.h"
#include "bremviewhost.h"
#include "logcodec.h"
#include "logpainter.h"

#include <QAccessible>
#include <QBuffer>
#include <QClipboard>
#include <QDateTime>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

// Appends reach the screen once per frame: the cost of finding the rows and painting them is
// paid per frame, not per byte.
constexpr int g_nFrameMs = 30;
// And a screen reader hears of them a few times a second, however fast they come.
constexpr int g_nAccessibleMs = 250;
const char* const g_szBytesMime = "application/x-brem-log-bytes";

QFont BoxFont(const QFont& font)
{
    QFont boxFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    boxFont.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.8));
    return boxFont;
}

} // namespace

CBremView::CBremView(QWidget* pParent)
    : QAbstractScrollArea(pParent)
    , m_layout(m_store)
    , m_editor(m_store)
    , m_textWindow(m_store)
{
    CBremViewAccessible::Install();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setKerning(false);
    setFont(font);
    m_layout.SetFonts(font, BoxFont(font));

    // Always there, so that a bar coming and going cannot change the width the rows wrap at.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setAccessibleName(QStringLiteral("Log scroll bar"));

    m_timerFrame.setSingleShot(true);
    m_timerFrame.setInterval(g_nFrameMs);
    connect(&m_timerFrame, &QTimer::timeout, this, &CBremView::Refresh);
    m_timerAccessible.setSingleShot(true);
    m_timerAccessible.setInterval(g_nAccessibleMs);
    connect(&m_timerAccessible, &QTimer::timeout, this, [this] { SyncAccessible(false); });
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
    if (m_editor.AppendLine(strText))
        AfterAppend();
    else if (m_editor.TakeFull())
        ReportFull();
}

void CBremView::AppendRaw(const unsigned char* pBytes, uint32_t nCount)
{
    if (m_editor.AppendRaw(pBytes, nCount))
        AfterAppend();
    else if (m_editor.TakeFull())
        ReportFull();
}

void CBremView::AfterAppend()
{
    if (m_editor.TakeFull())
        ReportFull();
    m_dCaretX = -1;
    m_bShowCaret = true;
    m_bWindowStale = true;
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
    m_editor.Reset();
    m_layout.Invalidate();
    m_dCaretX = -1;
    m_nTop = 0;
    m_nHexTop = 0;
    m_bFullReported = false;
    m_bShowCaret = true;
    Refresh();
    SyncAccessible(true);
}

void CBremView::FlushPending()
{
    m_timerFrame.stop();
    Refresh();
    if (m_timerAccessible.isActive()) {
        m_timerAccessible.stop();
        SyncAccessible(false);
    }
}

void CBremView::SetLineEnds(ELineEnds eEnds)
{
    if (eEnds == m_store.LineEnds())
        return;
    const int64_t nCaret = m_editor.Caret();
    const int64_t nAnchor = m_editor.Anchor();
    m_store.SetLineEnds(eEnds);
    m_layout.Invalidate();
    // The same bytes, so the same positions; only a caret inside a pair that now breaks moves.
    m_editor.SetSelection(nAnchor, nCaret);
    m_nTop = m_layout.RowStartOf(m_nTop);
    m_bShowCaret = true;
    Refresh();
    SyncAccessible(true);
}

void CBremView::SetLatin1(bool bLatin1)
{
    m_layout.SetUtf8(!bLatin1);
    m_editor.SetUtf8(!bLatin1);
    m_nTop = m_layout.RowStartOf(m_nTop);
    m_bShowCaret = true;
    Refresh();
    SyncAccessible(true);
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
    m_editor.SetSelection(nAnchor, nCaret);
    m_dCaretX = -1;
    m_bShowCaret = true;
    Refresh();
    SyncAccessible(false);
}

void CBremView::ShowMatch(int64_t nFrom, int64_t nTo)
{
    const int64_t nSize = m_store.Size();
    nFrom = std::clamp<int64_t>(nFrom, 0, nSize);
    nTo = std::clamp<int64_t>(nTo, nFrom, nSize);
    if (!m_bHex && nFrom < nTo) {
        nFrom = m_editor.CellBoundary(nFrom + 1, false);
        nTo = m_editor.CellBoundary(nTo - 1, true);
    }
    // A match out of sight comes a third of the way down, with what led to it above.
    const QRect rcShown = CellRect(nFrom);
    if (m_bHex)
        m_nHexTop = std::max<int64_t>(0, nFrom / m_nHexPerRow - VisibleRows() / 3);
    else if (rcShown.isEmpty())
        m_nTop = m_layout.MoveRows(m_layout.RowStartOf(nFrom), -(VisibleRows() / 3));
    SetSelection(nFrom, nTo);
}

// ---- the edit commands

void CBremView::AfterEdit(int64_t nFrom)
{
    if (m_editor.TakeFull())
        ReportFull();
    if (nFrom < 0)
        return;
    m_layout.Invalidate();
    m_nTop = m_layout.RowStartOf(std::min(m_nTop, nFrom));
    m_dCaretX = -1;
    m_bShowCaret = true;
    Refresh();
    SyncAccessible(nFrom < m_textWindow.From());
}

void CBremView::Undo()
{
    AfterEdit(m_editor.Undo());
}

void CBremView::Copy()
{
    if (m_bHex || !HasSelection())
        return;
    if (m_editor.SelTo() - m_editor.SelFrom() > CLogEditor::g_nMaxCopyBytes) {
        if (m_pHost)
            m_pHost->ViewMessageBox(
                QStringLiteral("The selection is too large to copy: %1 MB at most.")
                    .arg(CLogEditor::g_nMaxCopyBytes >> 20));
        return;
    }
    const QByteArray baBytes = SelectedBytes();
    auto* pData = new QMimeData;
    // The bytes themselves for pasting here, text for other programs.
    pData->setData(QLatin1String(g_szBytesMime), baBytes);
    pData->setText(CLogCodec::BytesToText(baBytes, m_layout.IsUtf8(), m_store.LineEnds()));
    QGuiApplication::clipboard()->setMimeData(pData);
}

void CBremView::Cut()
{
    if (m_bHex || !HasSelection())
        return;
    Copy();
    if (m_editor.SelTo() - m_editor.SelFrom() <= CLogEditor::g_nMaxCopyBytes)
        AfterEdit(m_editor.ReplaceSelection(QByteArray()));
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
        AfterEdit(m_editor.ReplaceSelection(pData->data(QLatin1String(g_szBytesMime))));
    else if (pData->hasText())
        AfterEdit(m_editor.ReplaceSelection(CLogCodec::TextToBytes(pData->text())));
}

// ---- the screen reader

const CLogTextWindow& CBremView::TextWindow()
{
    if (m_bWindowStale && !m_timerAccessible.isActive()) {
        m_bWindowStale = false;
        m_textWindow.Update(m_editor.Caret(), m_layout.IsUtf8(), false);
    }
    return m_textWindow;
}

void CBremView::SyncAccessible(bool bMoved)
{
    m_bWindowStale = true;
    if (!QAccessible::isActive())
        return;
    m_bWindowStale = false;
    const CLogTextWindow::SChange change
        = m_textWindow.Update(m_editor.Caret(), m_layout.IsUtf8(), bMoved);
    CBremViewAccessible::Notify(this, change);
    const int nCaret = m_textWindow.OffsetOf(m_editor.Caret());
    if (nCaret != m_nToldCaret || !change.IsEmpty()) {
        m_nToldCaret = nCaret;
        QAccessibleTextCursorEvent event(this, nCaret);
        QAccessible::updateAccessibility(&event);
    }
}
