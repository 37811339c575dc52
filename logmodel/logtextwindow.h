#pragma once

#include <QString>

#include <cstdint>
#include <vector>

class CLogStore;

// A stretch of the log as text for a screen reader: whole lines around a position, decoded as the
// view shows them (see CLogCodec::AppendCellText), with the text offset of every cell, so that
// offsets and byte positions map both ways. It never holds more than about g_nMaxBytes of log,
// so a huge log is never copied; while it reaches the end of the log, bytes that arrive only add
// text after what was there, and every offset given out stays valid.
class CLogTextWindow {
public:
    // Log before the anchor's line that the window keeps, and the most it holds.
    static constexpr int64_t g_nContext = 16 * 1024;
    static constexpr int64_t g_nMaxBytes = 64 * 1024;

    // What changed in the text: at m_nPos, m_strRemoved became m_strInserted.
    struct SChange {
        int m_nPos = 0;
        QString m_strRemoved;
        QString m_strInserted;
        bool IsEmpty() const { return m_strRemoved.isEmpty() && m_strInserted.isEmpty(); }
    };

    explicit CLogTextWindow(const CLogStore& store);

    // Decodes the window for the log as it is now. It keeps its start while that still holds
    // nAround within g_nMaxBytes (and bMoved is false); else it is placed anew around nAround.
    // Bytes at the very end that may still decode otherwise wait for the next update.
    SChange Update(int64_t nAround, bool bUtf8, bool bMoved);

    const QString& Text() const { return m_strText; }
    int64_t From() const { return m_nFrom; }
    int64_t To() const { return m_nTo; }
    // The offset of the cell holding nPos, clamped into the window; and the position where the
    // cell holding the offset starts.
    int OffsetOf(int64_t nPos) const;
    int64_t PosOf(int nOffset) const;

private:
    int64_t Anchor(int64_t nAround, bool bUtf8) const;

    const CLogStore& m_store;
    int64_t m_nFrom = 0;
    int64_t m_nTo = 0;
    bool m_bPlaced = false;
    QString m_strText;
    // Per cell, and once more for the end: its byte offset from m_nFrom and its text offset.
    std::vector<int32_t> m_vecCellBytes;
    std::vector<int32_t> m_vecCellText;
};
