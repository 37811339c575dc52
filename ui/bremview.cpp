#include "bremview.h"

#include "bremviewhost.h"
#include "logcodec.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace {

// Marks a paragraph that continues the previous one: the break before it stands for no byte.
constexpr int g_nSoftProperty = QTextFormat::UserProperty + 0x42;
// Appends reach the screen within a few frames; the widget's cost (layout, scroll, paint: about
// 2 ms) is paid once per batch, not per byte. A zero timer would fire between every two bytes.
constexpr int g_nFlushMs = 25;
// Past this much pending text the batch goes in at once, so the buffer stays bounded.
constexpr qsizetype g_nMaxPending = 64 * 1024;

bool IsSoft(const QTextBlock& block)
{
    return block.blockFormat().boolProperty(g_nSoftProperty);
}

bool IsEditCommand(const QKeyEvent* pEvent)
{
    static const QKeySequence::StandardKey g_keys[] = { QKeySequence::Copy, QKeySequence::Cut,
        QKeySequence::Paste, QKeySequence::Undo, QKeySequence::Redo, QKeySequence::SelectAll,
        QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord,
        QKeySequence::DeleteEndOfLine, QKeySequence::DeleteCompleteLine };
    return std::any_of(std::begin(g_keys), std::end(g_keys),
        [pEvent](QKeySequence::StandardKey key) { return pEvent->matches(key); });
}

} // namespace

CBremView::CBremView(QWidget* pParent)
    : QPlainTextEdit(pParent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_fmtSoft.setProperty(g_nSoftProperty, true);

    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(g_nFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &CBremView::FlushPending);

    // Nothing ever asks to save the log.
    connect(document(), &QTextDocument::modificationChanged, this, [this](bool bModified) {
        if (bModified)
            document()->setModified(false);
    });
}

void CBremView::SetHost(CBremViewHost* pHost)
{
    m_pHost = pHost;
}

void CBremView::AppendLine(const std::string& strText)
{
    const size_t nLen = std::min(strText.find('\0'), strText.size());
    QByteArray baLine(strText.data(), qsizetype(nLen));
    baLine += "\r\n";
    DropUndoHistory();
    m_strPending += CLogCodec::BytesToText(baLine);
    m_bPendingMove = true;
    ScheduleFlush();
}

void CBremView::AppendRaw(const unsigned char* pBytes, uint32_t nCount)
{
    if (!pBytes)
        return;
    for (uint32_t i = 0; i < nCount; ++i) {
        const unsigned char nByte = pBytes[i];
        if (nByte == '\n')
            continue; // an LF touches nothing, not even the caret
        if (!m_bPendingMove)
            DropUndoHistory();
        m_bPendingMove = true;
        if (nByte == '\r')
            m_strPending += CLogCodec::g_chLineBreak;
        else if (nByte != 0)
            m_strPending += CLogCodec::ByteToChar(nByte);
    }
    ScheduleFlush();
}

void CBremView::ClearLog()
{
    m_strPending.clear();
    m_bPendingMove = false;
    m_flushTimer.stop();
    clear(); // also forgets the undo history
    ensureCursorVisible();
}

QByteArray CBremView::LogBytes()
{
    FlushPending();
    QByteArray baOut;
    baOut.reserve(document()->characterCount() + document()->blockCount());
    const QTextBlock first = document()->firstBlock();
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        if (block != first && !IsSoft(block))
            baOut += "\r\n";
        CLogCodec::AppendBytes(baOut, block.text());
    }
    return baOut;
}

void CBremView::SetLogBytes(const QByteArray& baBytes)
{
    m_strPending.clear();
    m_bPendingMove = false;
    m_flushTimer.stop();

    // Build the whole text in one piece (cheap for the widget), noting which breaks are soft.
    const QString strText = CLogCodec::BytesToText(baBytes);
    QString strBlocks;
    strBlocks.reserve(strText.size() + strText.size() / g_nSoftBlockChars + 1);
    std::vector<int> vecSoft;
    int nBlock = 0;
    qsizetype nLineLen = 0;
    for (QChar ch : strText) {
        if (ch == CLogCodec::g_chLineBreak) {
            strBlocks += QChar::ParagraphSeparator;
            ++nBlock;
            nLineLen = 0;
            continue;
        }
        if (nLineLen == g_nSoftBlockChars) {
            strBlocks += QChar::ParagraphSeparator;
            vecSoft.push_back(++nBlock);
            nLineLen = 0;
        }
        strBlocks += ch;
        ++nLineLen;
    }

    setPlainText(strBlocks);
    if (!vecSoft.empty()) {
        QTextDocument* pDoc = document();
        pDoc->setUndoRedoEnabled(false);
        QTextCursor cursor(pDoc);
        cursor.beginEditBlock();
        QTextBlock block = pDoc->firstBlock();
        int nAt = 0;
        for (int nSoft : vecSoft) {
            for (; nAt < nSoft; ++nAt)
                block = block.next();
            cursor.setPosition(block.position());
            cursor.setBlockFormat(m_fmtSoft);
        }
        cursor.endEditBlock();
        pDoc->setUndoRedoEnabled(true);
    }
    moveCursor(QTextCursor::Start);
}

void CBremView::FlushPending()
{
    if (!m_bPendingMove)
        return;
    m_bPendingMove = false;
    m_flushTimer.stop();
    QString strText;
    strText.swap(m_strPending);

    QTextDocument* pDoc = document();
    pDoc->setUndoRedoEnabled(false); // appends cannot be undone
    QTextCursor cursor(pDoc);
    cursor.movePosition(QTextCursor::End);
    if (!strText.isEmpty()) {
        cursor.beginEditBlock();
        InsertText(cursor, strText);
        cursor.endEditBlock();
    }
    pDoc->setUndoRedoEnabled(true);
    // The operator's selection goes, the caret stands after the new text, the end is in view.
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CBremView::ScheduleFlush()
{
    if (m_strPending.size() >= g_nMaxPending)
        FlushPending();
    else if (m_bPendingMove && !m_flushTimer.isActive())
        m_flushTimer.start();
}

void CBremView::DropUndoHistory()
{
    QTextDocument* pDoc = document();
    if (pDoc->isUndoAvailable() || pDoc->isRedoAvailable())
        pDoc->clearUndoRedoStacks();
}

void CBremView::InsertText(QTextCursor& cursor, QStringView strText)
{
    while (!strText.isEmpty()) {
        if (strText.front() == CLogCodec::g_chLineBreak) {
            cursor.insertBlock(m_fmtHard);
            strText = strText.mid(1);
            continue;
        }
        qsizetype nRun = strText.indexOf(CLogCodec::g_chLineBreak);
        if (nRun < 0)
            nRun = strText.size();
        // Only the last paragraph is topped up to the limit; text put into the middle of the
        // log grows its paragraph instead of cutting it at every keystroke.
        qsizetype nRoom = g_nSoftBlockChars;
        if (cursor.atEnd()) {
            nRoom -= cursor.block().length() - 1;
            if (nRoom <= 0) {
                cursor.insertBlock(m_fmtSoft);
                nRoom = g_nSoftBlockChars;
            }
        }
        const qsizetype nTake = std::min(nRun, nRoom);
        cursor.insertText(strText.left(nTake).toString());
        strText = strText.mid(nTake);
        if (nTake < nRun)
            cursor.insertBlock(m_fmtSoft);
    }
}

void CBremView::InsertAtCaret(const QString& strText)
{
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    InsertText(cursor, strText);
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CBremView::TypeAtCaret(const QString& strText)
{
    // Characters typed one after another undo as one run, as in a plain edit control. The
    // document never counts as modified, so Qt itself would keep one undo step per character.
    QTextDocument* pDoc = document();
    QTextCursor cursor = textCursor();
    const bool bJoin = !cursor.hasSelection() && cursor.position() == m_nTypedEnd
        && pDoc->availableUndoSteps() == m_nTypedSteps && m_nTypedSteps > 0;
    if (bJoin)
        cursor.joinPreviousEditBlock();
    else
        cursor.beginEditBlock();
    cursor.removeSelectedText();
    InsertText(cursor, strText);
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
    m_nTypedEnd = cursor.position();
    m_nTypedSteps = pDoc->availableUndoSteps();
}

void CBremView::DeleteByte(bool bForward)
{
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection()) {
        int nPos = cursor.position();
        QTextBlock block = cursor.block();
        if (bForward) {
            // From the end of a paragraph whose continuation is soft, step into the continuation.
            while (nPos == block.position() + block.length() - 1 && block.next().isValid()
                && IsSoft(block.next())) {
                block = block.next();
                nPos = block.position();
            }
            if (nPos >= document()->characterCount() - 1)
                return;
            cursor.setPosition(nPos);
            cursor.setPosition(nPos + 1, QTextCursor::KeepAnchor);
        } else {
            while (nPos == block.position() && IsSoft(block) && block.previous().isValid()) {
                block = block.previous();
                nPos = block.position() + block.length() - 1;
            }
            if (nPos == 0)
                return;
            cursor.setPosition(nPos);
            cursor.setPosition(nPos - 1, QTextCursor::KeepAnchor);
        }
    }
    cursor.removeSelectedText();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CBremView::OnChar(char32_t nChar)
{
    if (!m_pHost || m_pHost->PortOpenFlag() == 0) {
        if (m_pHost)
            m_pHost->ViewMessageBox(QStringLiteral("COM Not Open"));
        return;
    }
    const auto nByte = static_cast<unsigned char>(nChar & 0xFF);
    m_pHost->WriteToPort(&nByte, 1);
    // The box above may have run a nested event loop; take in what arrived meanwhile.
    FlushPending();
    if (nByte == '\r')
        TypeAtCaret(QString(CLogCodec::g_chLineBreak));
    else if (nByte == '\b')
        DeleteByte(false);
    else
        TypeAtCaret(QString(CLogCodec::ByteToChar(nByte)));
}

bool CBremView::event(QEvent* pEvent)
{
    switch (pEvent->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::InputMethodQuery:
    case QEvent::ContextMenu:
        FlushPending();
        break;
    default:
        break;
    }
    return QPlainTextEdit::event(pEvent);
}

bool CBremView::viewportEvent(QEvent* pEvent)
{
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        FlushPending();
        break;
    default:
        break;
    }
    return QPlainTextEdit::viewportEvent(pEvent);
}

void CBremView::keyPressEvent(QKeyEvent* pEvent)
{
    FlushPending();
    const Qt::KeyboardModifiers mods = pEvent->modifiers();
    if (pEvent->key() == Qt::Key_Backspace && (mods & Qt::AltModifier)) {
        undo(); // Alt+Backspace is Undo here, as on the system the tool comes from
        return;
    }
    if (pEvent->matches(QKeySequence::Paste) || pEvent->matches(QKeySequence::Cut)
        || pEvent->matches(QKeySequence::Copy) || IsEditCommand(pEvent)) {
        QPlainTextEdit::keyPressEvent(pEvent);
        return;
    }
    if (pEvent->key() == Qt::Key_Delete) {
        if (mods & ~Qt::KeyboardModifiers(Qt::KeypadModifier))
            QPlainTextEdit::keyPressEvent(pEvent);
        else
            DeleteByte(true);
        return;
    }
    const QString strText = pEvent->text();
    if (!strText.isEmpty() && !(mods & Qt::AltModifier)) {
        for (char32_t nChar : strText.toUcs4())
            OnChar(nChar);
        return;
    }
    QPlainTextEdit::keyPressEvent(pEvent);
}

void CBremView::inputMethodEvent(QInputMethodEvent* pEvent)
{
    if (pEvent->commitString().isEmpty()) {
        QPlainTextEdit::inputMethodEvent(pEvent);
        return;
    }
    // Committed text is typed text: its UTF-8 bytes go out one at a time.
    QInputMethodEvent preedit(pEvent->preeditString(), pEvent->attributes());
    preedit.setCommitString(QString(), pEvent->replacementStart(), pEvent->replacementLength());
    QPlainTextEdit::inputMethodEvent(&preedit);
    const QByteArray baUtf8 = pEvent->commitString().toUtf8();
    for (char c : baUtf8)
        OnChar(static_cast<unsigned char>(c));
    pEvent->accept();
}

bool CBremView::canInsertFromMimeData(const QMimeData* pSource) const
{
    return pSource->hasText();
}

QMimeData* CBremView::createMimeDataFromSelection() const
{
    auto* pData = new QMimeData;
    pData->setText(SelectedLogText());
    return pData;
}

void CBremView::insertFromMimeData(const QMimeData* pSource)
{
    // Pasted text goes into the log only; nothing is sent.
    FlushPending();
    if (pSource->hasText())
        InsertAtCaret(CLogCodec::ForeignToText(pSource->text()));
}

QString CBremView::SelectedLogText() const
{
    const QTextCursor cursor = textCursor();
    const int nFrom = cursor.selectionStart();
    const int nTo = cursor.selectionEnd();
    QString str;
    for (QTextBlock block = document()->findBlock(nFrom);
         block.isValid() && block.position() <= nTo; block = block.next()) {
        const int nStart = block.position();
        if (nStart > nFrom && !IsSoft(block))
            str += CLogCodec::g_chLineBreak;
        const int nBegin = std::max(nFrom, nStart) - nStart;
        const int nEnd = std::min(nTo, nStart + block.length() - 1) - nStart;
        if (nEnd > nBegin)
            str += block.text().mid(nBegin, nEnd - nBegin);
    }
    return str;
}
