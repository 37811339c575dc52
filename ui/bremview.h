#pragma once

#include <QByteArray>
#include <QPlainTextEdit>
#include <QString>
#include <QTextBlockFormat>
#include <QTimer>

#include <cstdint>
#include <string>

class CBremViewHost;
class QTextCursor;

// The log and terminal: received bytes and log lines are appended at the end, typed characters go
// to the device one byte each while the port is open. The text is bytes (see CLogCodec).
//
// Appends are gathered and handed to the widget every few frames; every operation that reads or
// changes the text first takes in what is pending, so it sees the log as if each append had gone
// in at once. Long lines are cut into paragraphs of bounded size by breaks that stand for no byte,
// so an append costs the same however long the log and its last line are.
class CBremView : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CBremView(QWidget* pParent = nullptr);

    void SetHost(CBremViewHost* pHost);

    // The text up to its first zero byte, then a line break.
    void AppendLine(const std::string& strText);
    // Each byte as its own append: CR gives a line break, LF nothing at all, zero only moves the
    // caret to the end, any other byte its character.
    void AppendRaw(const unsigned char* pBytes, uint32_t nCount);
    // Empties the log; cannot be undone.
    void ClearLog();

    // The log's bytes exactly: CR LF for each line break, nothing before or after.
    QByteArray LogBytes();
    // Replaces the whole log; cannot be undone. The caret goes to the start.
    void SetLogBytes(const QByteArray& baBytes);

    // Takes pending appends into the widget now. Call before using QPlainTextEdit's own
    // non-virtual readers (textCursor(), document(), cut(), copy()...) directly.
    void FlushPending();

    // Longest paragraph an append builds before it starts a continuation paragraph.
    static constexpr int g_nSoftBlockChars = 1024;

protected:
    bool event(QEvent* pEvent) override;
    bool viewportEvent(QEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void inputMethodEvent(QInputMethodEvent* pEvent) override;
    bool canInsertFromMimeData(const QMimeData* pSource) const override;
    QMimeData* createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData* pSource) override;

private:
    void OnChar(char32_t nChar);
    void ScheduleFlush();
    void DropUndoHistory();
    // Inserts log text at the cursor, bounding the paragraphs it grows.
    void InsertText(QTextCursor& cursor, QStringView strText);
    // Replaces the selection (or inserts at the caret) as the operator's own edit.
    void InsertAtCaret(const QString& strText);
    // Typed text: consecutive characters join one undo step.
    void TypeAtCaret(const QString& strText);
    // Backspace and Delete: one byte, stepping over breaks that stand for no byte.
    void DeleteByte(bool bForward);
    QString SelectedLogText() const;

    CBremViewHost* m_pHost = nullptr;
    QString m_strPending; // log text appended but not yet in the widget
    bool m_bPendingMove = false; // an append is pending, even one that adds no text
    QTimer m_flushTimer;
    int m_nTypedEnd = -1; // caret after the last typed character
    int m_nTypedSteps = 0; // undo steps right after it
    QTextBlockFormat m_fmtHard;
    QTextBlockFormat m_fmtSoft;
};
