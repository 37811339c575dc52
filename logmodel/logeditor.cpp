#include "logeditor.h"

#include "logcodec.h"

#include <algorithm>

CLogEditor::CLogEditor(CLogStore& store)
    : m_store(store)
{ }

bool CLogEditor::AppendLine(const std::string& strText)
{
    const size_t nLength = std::min(strText.find('\0'), strText.size());
    if (m_store.Size() + int64_t(nLength) + 2 > g_nMaxLogBytes) {
        m_bFull = true;
        return false;
    }
    m_store.Append(strText.data(), int64_t(nLength));
    m_store.Append("\r\n", 2);
    AfterAppend();
    return true;
}

bool CLogEditor::AppendRun(const unsigned char* pBytes, uint32_t nCount)
{
    if (!pBytes || nCount == 0)
        return false;
    if (m_store.LineEnds() == ELineEnds::AsReceived) {
        const int64_t nRoom = g_nMaxLogBytes - m_store.Size();
        if (nRoom < int64_t(nCount))
            m_bFull = true;
        const auto* p = reinterpret_cast<const char*>(pBytes);
        if (nCount == 1 && nRoom > 0)
            m_store.AppendByte(*p);
        else if (nRoom > 0)
            m_store.Append(p, std::min<int64_t>(nCount, nRoom));
        AfterAppend();
        return true;
    }
    bool bAppended = false;
    for (uint32_t i = 0; i < nCount; ++i) {
        const unsigned char nByte = pBytes[i];
        if (nByte == '\n')
            continue; // an LF touches nothing, not even the caret
        bAppended = true;
        if (m_store.Size() + 2 > g_nMaxLogBytes)
            m_bFull = true;
        else if (nByte == '\r')
            m_store.Append("\r\n", 2);
        else if (nByte != 0)
            m_store.AppendByte(char(nByte));
    }
    if (bAppended)
        AfterAppend();
    return bAppended;
}

void CLogEditor::SetSelection(int64_t nAnchor, int64_t nCaret)
{
    m_nAnchor = std::clamp<int64_t>(nAnchor, 0, m_store.Size());
    m_nCaret = std::clamp<int64_t>(nCaret, 0, m_store.Size());
}

void CLogEditor::MoveCaret(int64_t nPos, bool bExtend)
{
    m_nCaret = std::clamp<int64_t>(nPos, 0, m_store.Size());
    if (!bExtend)
        m_nAnchor = m_nCaret;
}

QByteArray CLogEditor::SelectedBytes() const
{
    return m_store.Bytes(SelFrom(), SelTo());
}

int CLogEditor::CellBytesAt(int64_t nPos) const
{
    return CLogCodec::DecodeAt(m_store, nPos, m_bUtf8).m_nBytes;
}

int64_t CLogEditor::CellBoundary(int64_t nPos, bool bForward) const
{
    const int64_t nSize = m_store.Size();
    if (bForward) {
        if (nPos >= nSize)
            return nSize;
        for (int64_t n = CLogCodec::CellStartNear(m_store, nPos, m_bUtf8);;) {
            n += CellBytesAt(n);
            if (n > nPos)
                return n;
        }
    }
    if (nPos <= 0)
        return 0;
    int64_t nLast = CLogCodec::CellStartNear(m_store, nPos - 1, m_bUtf8);
    for (int64_t n = nLast; n < nPos; n += CellBytesAt(n))
        nLast = n;
    return nLast;
}

int64_t CLogEditor::Type(const QByteArray& baSent)
{
    if (m_store.LineEnds() == ELineEnds::CrLf) {
        if (baSent == "\r")
            return Edit(QByteArrayLiteral("\r\n"), true);
        if (baSent == "\b")
            return DeleteCell(false);
    }
    return Edit(baSent, true);
}

int64_t CLogEditor::DeleteCell(bool bForward)
{
    if (!HasSelection()) {
        const int64_t nOther = CellBoundary(m_nCaret, bForward);
        if (nOther == m_nCaret)
            return -1;
        m_nAnchor = nOther;
    }
    return Edit(QByteArray(), false);
}

int64_t CLogEditor::ReplaceSelection(const QByteArray& baBytes)
{
    return Edit(baBytes, false);
}

int64_t CLogEditor::Edit(const QByteArray& baBytes, bool bTyping)
{
    const int64_t nFrom = SelFrom();
    const int64_t nTo = SelTo();
    if (m_store.Size() - (nTo - nFrom) + baBytes.size() > g_nMaxLogBytes) {
        m_bFull = true;
        return -1;
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
    m_nCaret = m_nAnchor = nFrom + baBytes.size();
    return nFrom;
}

int64_t CLogEditor::Undo()
{
    if (m_vecUndo.empty())
        return -1;
    const SUndo undo = std::move(m_vecUndo.back());
    m_vecUndo.pop_back();
    m_store.Replace(undo.m_nPos, undo.m_nPos + undo.m_nInserted, undo.m_baRemoved.constData(),
        undo.m_baRemoved.size());
    SetSelection(undo.m_nAnchor, undo.m_nCaret);
    return undo.m_nPos;
}

void CLogEditor::Reset()
{
    m_vecUndo.clear();
    m_vecUndo.shrink_to_fit();
    m_nCaret = m_nAnchor = 0;
}
