#pragma once

#include "loglayout.h"
#include "logstore.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

class CBremViewHost;
class QIODevice;

// The log and terminal. The log is its bytes (CLogStore); the view draws the rows on screen
// from them and nothing else. Received bytes and log lines are appended at the end; while the
// port is open, typed characters go to the device (as UTF-8) and into the log at the caret.
//
// Appends reach the model at once and the screen on the next frame, so an append costs a few
// instructions however fast the bytes come.
class CBremView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // The most the log holds; what arrives beyond it is not kept, and a box says so once.
    static constexpr int64_t g_nMaxLogBytes = int64_t(4) << 30;

    explicit CBremView(QWidget* pParent = nullptr);
    ~CBremView() override;

    void SetHost(CBremViewHost* pHost);

    // The text up to its first zero byte, then a line break.
    void AppendLine(const std::string& strText);
    // Each byte as its own append: CR gives a line break, LF nothing at all, zero only moves the
    // caret to the end, any other byte itself.
    void AppendRaw(const unsigned char* pBytes, uint32_t nCount);
    // Empties the log; cannot be undone.
    void ClearLog();

    // The log's bytes exactly as received and typed.
    QByteArray LogBytes() const;
    // Replaces the whole log; cannot be undone. The caret goes to the start.
    void SetLogBytes(const QByteArray& baBytes);
    // For loading and saving large logs without a copy. After changing it, call StoreReplaced.
    CLogStore& Store() { return m_store; }
    const CLogStore& Store() const { return m_store; }
    void StoreReplaced();

    // Brings the screen up to the log now instead of on the next frame.
    void FlushPending();

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
    int64_t CaretPos() const { return m_nCaret; }
    int64_t AnchorPos() const { return m_nAnchor; }
    bool HasSelection() const { return m_nCaret != m_nAnchor; }
    void SetSelection(int64_t nAnchor, int64_t nCaret);
    void SelectAll() { SetSelection(0, m_store.Size()); }
    QByteArray SelectedBytes() const;

    // The edit commands (the accelerators); none of them sends anything.
    void Undo();
    void Cut();
    void Copy();
    void Paste();
    bool IsUndoAvailable() const { return !m_vecUndo.empty(); }

    // What the screen shows: the first byte drawn and whether the caret's row is in view.
    int64_t TopPos() const;
    bool IsCaretVisible();

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
    struct SUndo {
        int64_t m_nPos = 0;
        QByteArray m_baRemoved;
        int64_t m_nInserted = 0;
        int64_t m_nCaret = 0;
        int64_t m_nAnchor = 0;
        bool m_bTyping = false;
    };

    void AfterAppend();
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
    int64_t PosAtPoint(const QPoint& pt) const;

    // Sends one typed character while the port is open and puts what went out into the log.
    void OnChar(char32_t nChar);
    void TypeBytes(const QByteArray& baBytes);
    // Replaces the selection as the operator's own edit, which Undo can revert.
    void EditSelection(const QByteArray& baBytes, bool bTyping);
    void DeleteCell(bool bForward);
    int64_t CellBoundary(int64_t nPos, bool bForward) const;
    void MoveCaret(int64_t nPos, bool bExtend);
    void MoveCaretRows(int64_t nRows, bool bExtend);

    void PaintText(QPainter& painter, const QRect& rcDirty);
    void PaintHex(QPainter& painter);

    CBremViewHost* m_pHost = nullptr;
    CLogStore m_store;
    CLogLayout m_layout;
    std::vector<SUndo> m_vecUndo;
    QTimer m_timerFrame;
    int64_t m_nCaret = 0;
    int64_t m_nAnchor = 0;
    qreal m_dCaretX = -1; // the column that Up and Down keep
    int64_t m_nTop = 0; // first row on screen (text)
    int64_t m_nHexTop = 0; // first row on screen (hex)
    int m_nHexPerRow = 16;
    int m_nBarShift = 0; // scroll bar value = position >> shift
    int m_nWheelRest = 0;
    bool m_bShowCaret = false; // scroll the caret into view on the next frame
    bool m_bHex = false;
    bool m_bTimestamps = false;
    bool m_bFullReported = false;
    bool m_bSyncingBar = false;
    // The first row on screen when the end is shown, for the layout, size and height it was found
    // for.
    mutable int64_t m_nTopAtEnd = 0;
    mutable uint64_t m_nTopAtEndGeneration = 0;
    mutable int64_t m_nTopAtEndSize = -1;
    mutable int m_nTopAtEndRows = 0;
};
