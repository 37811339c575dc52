#pragma once

#include "logeditor.h"
#include "loglayout.h"
#include "logstore.h"
#include "logtextwindow.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QTimer>

#include <cstdint>
#include <string>

class CBremViewHost;

// The log and terminal on screen. The log is its model (store, editor, layout in logmodel/); the
// view paints the rows it shows, turns keys and clicks into the model's edits, and sends what is
// typed to the device while the port is open (as UTF-8). Screen readers read it through
// CBremViewAccessible.
//
// Appends reach the model at once and the screen on the next frame, and a screen reader a few
// times a second, so an append costs a few instructions however fast the bytes come.
class CBremView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // The most the log holds; what arrives beyond it is not kept, and a box says so once.
    static constexpr int64_t g_nMaxLogBytes = CLogEditor::g_nMaxLogBytes;

    explicit CBremView(QWidget* pParent = nullptr);
    ~CBremView() override;

    void SetHost(CBremViewHost* pHost);

    // The text up to its first zero byte, then a line break.
    void AppendLine(const std::string& strText);
    // Received bytes, each as its own append, by the line-end choice (see ELineEnds).
    void AppendRaw(const unsigned char* pBytes, uint32_t nCount);
    // Empties the log; cannot be undone.
    void ClearLog();

    // The log's bytes exactly as kept.
    QByteArray LogBytes() const;
    // Replaces the whole log; cannot be undone. The caret goes to the start.
    void SetLogBytes(const QByteArray& baBytes);
    // For loading and saving large logs without a copy. After changing it, call StoreReplaced.
    CLogStore& Store() { return m_store; }
    const CLogStore& Store() const { return m_store; }
    void StoreReplaced();

    // Brings the screen (and a screen reader) up to the log now instead of on the next frame.
    void FlushPending();

    // What Enter sends (CR unless chosen otherwise). The log shows it as a line break while line
    // ends are not kept as received, as the bytes sent otherwise.
    void SetEnterBytes(const QByteArray& baEnter) { m_baEnter = baEnter; }
    const QByteArray& EnterBytes() const { return m_baEnter; }
    // How received bytes are kept and lines break; the log there is shown by the new rule.
    void SetLineEnds(ELineEnds eEnds);
    ELineEnds LineEnds() const { return m_store.LineEnds(); }
    // How the bytes are shown: UTF-8 or one character per byte; text or hex; with a gutter of
    // arrival times or without.
    void SetLatin1(bool bLatin1);
    bool IsLatin1() const { return !m_layout.IsUtf8(); }
    void SetHex(bool bHex);
    bool IsHex() const { return m_bHex; }
    void SetTimestamps(bool bOn);
    bool HasTimestamps() const { return m_bTimestamps; }
    // A line's time as the gutter shows it.
    static QString TimeText(int64_t nMsecs);

    // Caret and selection, as positions in the log's bytes.
    int64_t CaretPos() const { return m_editor.Caret(); }
    int64_t AnchorPos() const { return m_editor.Anchor(); }
    bool HasSelection() const { return m_editor.HasSelection(); }
    void SetSelection(int64_t nAnchor, int64_t nCaret);
    void SelectAll() { SetSelection(0, m_store.Size()); }
    QByteArray SelectedBytes() const { return m_editor.SelectedBytes(); }
    // Selects nFrom..nTo and brings it into view; as text, the whole characters it touches.
    void ShowMatch(int64_t nFrom, int64_t nTo);

    // The edit commands (the accelerators); none of them sends anything.
    void Undo();
    void Cut();
    void Copy();
    void Paste();
    bool IsUndoAvailable() const { return m_editor.IsUndoAvailable(); }

    // What the screen shows: the first byte drawn and whether the caret's row is in view.
    int64_t TopPos() const;
    bool IsCaretVisible();

    // For the screen reader: the text around the caret, brought up to date if nothing has been
    // telling a screen reader so far; where a byte is drawn (empty when not on screen); the byte
    // at a point of the viewport.
    const CLogTextWindow& TextWindow();
    QRect CellRect(int64_t nPos) const;
    int64_t PosAtPoint(const QPoint& pt) const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void scrollContentsBy(int nDx, int nDy) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void inputMethodEvent(QInputMethodEvent* pEvent) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery eQuery) const override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    bool focusNextPrevChild(bool bNext) override;

private:
    void AfterAppend();
    void AfterEdit(int64_t nFrom);
    void ReportFull();
    void ScheduleFrame();
    // Everything the screen needs after a change: scroll position, scroll bar, repaint.
    void Refresh();
    void UpdateLayoutWidth();
    void SyncScrollBar();
    int VisibleRows() const;
    qreal TextLeft() const;
    int64_t HexRows() const;
    int64_t TopAtEnd() const;
    void Navigate(int nKey, bool bCtrl, bool bShift);
    void ScrollRows(int64_t nRows);
    void EnsureCaretVisible();
    // Sends one typed character while the port is open and puts what went out into the log.
    void OnChar(char32_t nChar);
    // Enter when it sends other bytes than CR.
    void OnEnter();
    void MoveCaret(int64_t nPos, bool bExtend);
    void MoveCaretRows(int64_t nRows, bool bExtend);
    // Tells a screen reader what changed in the text and where the caret is; bMoved places the
    // text around the caret anew.
    void SyncAccessible(bool bMoved);

    CBremViewHost* m_pHost = nullptr;
    CLogStore m_store;
    CLogLayout m_layout;
    CLogEditor m_editor;
    CLogTextWindow m_textWindow;
    QTimer m_timerFrame;
    QTimer m_timerAccessible;
    qreal m_dCaretX = -1; // the column that Up and Down keep
    int64_t m_nTop = 0; // first row on screen (text)
    int64_t m_nHexTop = 0; // first row on screen (hex)
    int m_nHexPerRow = 16;
    int m_nBarShift = 0; // scroll bar value = position >> shift
    int m_nWheelRest = 0;
    int m_nToldCaret = -1; // the caret offset a screen reader was last told
    bool m_bShowCaret = false; // scroll the caret into view on the next frame
    bool m_bHex = false;
    QByteArray m_baEnter = QByteArray(1, '\r');
    bool m_bTimestamps = false;
    bool m_bFullReported = false;
    bool m_bSyncingBar = false;
    bool m_bWindowStale = true; // the log changed since the screen reader's text was made
    // The first row on screen when the end is shown, for the layout, size and height it was found
    // for.
    mutable int64_t m_nTopAtEnd = 0;
    mutable uint64_t m_nTopAtEndGeneration = 0;
    mutable int64_t m_nTopAtEndSize = -1;
    mutable int m_nTopAtEndRows = 0;
};
