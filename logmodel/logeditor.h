#pragma once

#include "logstore.h"

#include <QByteArray>

#include <cstdint>
#include <string>
#include <vector>

// The log as the operator and the device change it: caret and selection, the appends that
// received bytes and log lines make (they move the caret to the end and cannot be undone), and the
// edits that typing, pasting, cutting and deleting make (they can, step by step). Positions are
// byte positions in the store; the caret always stands at a cell's edge.
class CLogEditor {
public:
    // The most the log holds; what arrives beyond it is not kept.
    static constexpr int64_t g_nMaxLogBytes = int64_t(4) << 30;
    // Edits larger than this keep no undo step, and copies larger than this are refused.
    static constexpr int64_t g_nMaxCopyBytes = 64 * 1024 * 1024;

    explicit CLogEditor(CLogStore& store);

    // Cells as UTF-8 or one per byte, for the edits that take a whole cell.
    void SetUtf8(bool bUtf8) { m_bUtf8 = bUtf8; }
    bool IsUtf8() const { return m_bUtf8; }

    // The text up to its first zero byte, then CR LF. False when there is no room for it.
    bool AppendLine(const std::string& strText);
    // Received bytes, by the store's rule. CrLf: CR gives CR LF, LF is not kept and touches
    // nothing (not even the caret), NUL only moves the caret to the end. AsReceived: each byte as
    // it came. False when nothing changed.
    bool AppendRaw(const unsigned char* pBytes, uint32_t nCount)
    {
        // One byte that is no line end and no NUL, with room for it: the same in either mode,
        // and the common case, kept short.
        if (nCount == 1 && pBytes && *pBytes > '\r' && m_store.Size() + 2 <= g_nMaxLogBytes) {
            m_store.AppendByte(char(*pBytes));
            AfterAppend();
            return true;
        }
        return AppendRun(pBytes, nCount);
    }
    // Whether something was refused for want of room since the last call.
    bool TakeFull()
    {
        if (!m_bFull)
            return false;
        m_bFull = false;
        return true;
    }

    int64_t Caret() const { return m_nCaret; }
    int64_t Anchor() const { return m_nAnchor; }
    int64_t SelFrom() const { return std::min(m_nCaret, m_nAnchor); }
    int64_t SelTo() const { return std::max(m_nCaret, m_nAnchor); }
    bool HasSelection() const { return m_nCaret != m_nAnchor; }
    void SetSelection(int64_t nAnchor, int64_t nCaret);
    void MoveCaret(int64_t nPos, bool bExtend);
    QByteArray SelectedBytes() const;
    // Where the cell after (before) nPos ends (starts).
    int64_t CellBoundary(int64_t nPos, bool bForward) const;

    // The edits return where the log changed from, or -1 when it did not.
    // A typed character that went out as baSent, at the caret. CrLf: Enter (CR) as CR LF, and
    // Backspace deletes the cell before the caret. AsReceived: exactly the bytes that went out.
    int64_t Type(const QByteArray& baSent);
    // The selection, or else the cell after (before) the caret.
    int64_t DeleteCell(bool bForward);
    // The selection becomes the bytes, an undo step of its own (paste, cut).
    int64_t ReplaceSelection(const QByteArray& baBytes);
    int64_t Undo();
    bool IsUndoAvailable() const { return !m_vecUndo.empty(); }
    // After the store was filled or emptied as a whole: caret at the start, nothing to undo.
    void Reset();

private:
    struct SUndo {
        int64_t m_nPos = 0;
        QByteArray m_baRemoved;
        int64_t m_nInserted = 0;
        int64_t m_nCaret = 0;
        int64_t m_nAnchor = 0;
        bool m_bTyping = false;
    };

    bool AppendRun(const unsigned char* pBytes, uint32_t nCount);
    void AfterAppend()
    {
        // Appends cannot be undone, and the operator's edits before one no longer can either.
        if (!m_vecUndo.empty())
            m_vecUndo.clear();
        m_nCaret = m_nAnchor = m_store.Size();
    }
    int64_t Edit(const QByteArray& baBytes, bool bTyping);
    int CellBytesAt(int64_t nPos) const;

    CLogStore& m_store;
    std::vector<SUndo> m_vecUndo;
    int64_t m_nCaret = 0;
    int64_t m_nAnchor = 0;
    bool m_bUtf8 = true;
    bool m_bFull = false;
};
