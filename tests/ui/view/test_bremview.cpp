#include "bremview.h"
#include "bremviewhost.h"
#include "logcodec.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBlock>

namespace {

class CFakeHost final : public CBremViewHost {
public:
    int PortOpenFlag() const override { return m_nPortOpen; }
    uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) override
    {
        m_baWritten.append(reinterpret_cast<const char*>(pBytes), qsizetype(nCount));
        return static_cast<uint64_t>(m_baWritten.size());
    }
    void ViewMessageBox(const QString& strText) override { m_listBoxes << strText; }

    int m_nPortOpen = 1;
    QByteArray m_baWritten;
    QStringList m_listBoxes;
};

QByteArray AllBytes()
{
    QByteArray ba;
    for (int n = 0; n < 256; ++n)
        ba += char(n);
    return ba;
}

// 3000 distinct-looking bytes in one line: the view holds it as three paragraphs.
QByteArray LongLine()
{
    QByteArray ba;
    for (int n = 0; n < 3000; ++n)
        ba += char('a' + n % 26);
    return ba;
}

} // namespace

class CBremViewTest : public QObject {
    Q_OBJECT

private:
    CBremView* m_pView = nullptr;
    CFakeHost m_host;

    void Feed(const QByteArray& ba)
    {
        for (char c : ba) {
            const auto nByte = static_cast<unsigned char>(c);
            m_pView->AppendRaw(&nByte, 1);
        }
    }
    void PutCaret(int nPos, int nAnchor = -1)
    {
        QTextCursor cursor = m_pView->textCursor();
        cursor.setPosition(nAnchor < 0 ? nPos : nAnchor);
        cursor.setPosition(nPos, QTextCursor::KeepAnchor);
        m_pView->setTextCursor(cursor);
    }

private Q_SLOTS:
    void init()
    {
        m_pView = new CBremView;
        m_host = CFakeHost();
        m_pView->SetHost(&m_host);
        m_pView->resize(400, 200);
        m_pView->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pView));
    }
    void cleanup() { delete m_pView; }

    void EveryByteHasOneVisibleCharacter()
    {
        QSet<char16_t> setSeen;
        for (int n = 0; n < 256; ++n) {
            const QChar ch = CLogCodec::ByteToChar(static_cast<unsigned char>(n));
            QCOMPARE(CLogCodec::CharToByte(ch), n);
            QVERIFY2(!setSeen.contains(ch.unicode()), qPrintable(QString::number(n, 16)));
            setSeen.insert(ch.unicode());
            QVERIFY(ch != CLogCodec::g_chLineBreak && ch != u'\r');
            if (n != '\t')
                QVERIFY2(
                    ch.category() != QChar::Other_Control && ch.category() != QChar::Other_Format,
                    qPrintable(QString::number(n, 16)));
        }
        // Characters that map to no byte are saved as UTF-8.
        QByteArray ba("x");
        CLogCodec::AppendBytes(ba, u"\u4E2D\u00E9\u2400");
        QCOMPARE(ba, QByteArray("x\xe4\xb8\xad\xe9\0", 6));
    }

    // Pasted text: mapped characters are their byte, line endings a line break, the rest UTF-8.
    void ForeignToText_data()
    {
        QTest::addColumn<QString>("strForeign");
        QTest::addColumn<QByteArray>("baBytes");
        QTest::newRow("lf") << QStringLiteral("a\nb") << QByteArray("a\r\nb");
        QTest::newRow("crlf") << QStringLiteral("a\r\nb") << QByteArray("a\r\nb");
        QTest::newRow("cr") << QStringLiteral("a\rb") << QByteArray("a\r\nb");
        QTest::newRow("latin1") << QStringLiteral("\u00E9\t") << QByteArray("\xe9\t");
        QTest::newRow("pictures") << QStringLiteral("\u240D\u2400") << QByteArray("\r\0", 2);
        QTest::newRow("soft hyphen") << QStringLiteral("\u00AD") << QByteArray("\xc2\xad");
        QTest::newRow("surrogates")
            << QString::fromUtf8("\xf0\x9f\x98\x80") << QByteArray("\xf0\x9f\x98\x80");
    }
    void ForeignToText()
    {
        QFETCH(QString, strForeign);
        QFETCH(QByteArray, baBytes);
        QCOMPARE(CLogCodec::ForeignToText(strForeign), CLogCodec::BytesToText(baBytes));
    }

    void AppendRawBytesOneAtATime_data()
    {
        QTest::addColumn<QByteArray>("baFed");
        QTest::addColumn<QByteArray>("baLog");
        QTest::newRow("crlf") << QByteArray("OK\r\n") << QByteArray("OK\r\n");
        QTest::newRow("lf only") << QByteArray("OK\n") << QByteArray("OK");
        QTest::newRow("lone cr") << QByteArray("A\rB") << QByteArray("A\r\nB");
        QTest::newRow("nul") << QByteArray("A\0B", 3) << QByteArray("AB");
        QTest::newRow("high and control")
            << QByteArray("\x01\x7f\x85\xff") << QByteArray("\x01\x7f\x85\xff");
    }
    void AppendRawBytesOneAtATime()
    {
        QFETCH(QByteArray, baFed);
        QFETCH(QByteArray, baLog);
        Feed(baFed);
        QCOMPARE(m_pView->LogBytes(), baLog);
        // A longer run is the same as its bytes one at a time.
        m_pView->ClearLog();
        m_pView->AppendRaw(
            reinterpret_cast<const unsigned char*>(baFed.constData()), uint32_t(baFed.size()));
        QCOMPARE(m_pView->LogBytes(), baLog);
    }

    void AppendLineStopsAtZeroAndEndsWithCrLf()
    {
        m_pView->AppendLine("Handshake OK");
        m_pView->AppendLine(std::string("ab\0cd", 5));
        m_pView->AppendLine("");
        QCOMPARE(m_pView->LogBytes(), QByteArray("Handshake OK\r\nab\r\n\r\n"));
    }

    // A lone LF leaves the operator's selection alone; NUL and any shown byte drop it.
    void AppendDropsSelectionAndShowsTheEnd()
    {
        QByteArray baLog;
        for (int n = 0; n < 200; ++n)
            baLog += "line " + QByteArray::number(n) + "\r\n";
        m_pView->SetLogBytes(baLog);
        for (const QByteArray& baFed : { QByteArray(1, '\0'), QByteArray("X") }) {
            PutCaret(20, 10);
            m_pView->verticalScrollBar()->setValue(0);
            Feed("\n");
            QTest::qWait(30);
            QVERIFY(m_pView->textCursor().hasSelection());
            Feed(baFed);
            QTRY_COMPARE(m_pView->textCursor().hasSelection(), false);
            QCOMPARE(m_pView->textCursor().position(), m_pView->document()->characterCount() - 1);
            QVERIFY(m_pView->viewport()->rect().contains(m_pView->cursorRect()));
        }
        QCOMPARE(m_pView->LogBytes(), baLog + "X");
    }

    void TypingWithThePortClosedOnlyComplains()
    {
        m_host.m_nPortOpen = 0;
        m_pView->SetLogBytes("abcd");
        QTest::keyClicks(m_pView, "xy");
        QTest::keyClick(m_pView, Qt::Key_Return);
        QCOMPARE(m_host.m_listBoxes, QStringList(3, QStringLiteral("COM Not Open")));
        QVERIFY(m_host.m_baWritten.isEmpty());
        QCOMPARE(m_pView->LogBytes(), QByteArray("abcd"));
    }

    void Keys_data()
    {
        QTest::addColumn<int>("nKey");
        QTest::addColumn<QByteArray>("baSent");
        QTest::addColumn<QByteArray>("baLog");
        QTest::newRow("letter") << int(Qt::Key_X) << QByteArray("x") << QByteArray("abxcd");
        QTest::newRow("enter") << int(Qt::Key_Return) << QByteArray("\r") << QByteArray("ab\r\ncd");
        QTest::newRow("backspace")
            << int(Qt::Key_Backspace) << QByteArray("\b") << QByteArray("acd");
        QTest::newRow("tab") << int(Qt::Key_Tab) << QByteArray("\t") << QByteArray("ab\tcd");
        QTest::newRow("delete") << int(Qt::Key_Delete) << QByteArray() << QByteArray("abd");
        QTest::newRow("left") << int(Qt::Key_Left) << QByteArray() << QByteArray("abcd");
    }
    void Keys()
    {
        QFETCH(int, nKey);
        QFETCH(QByteArray, baSent);
        QFETCH(QByteArray, baLog);
        m_pView->SetLogBytes("abcd");
        PutCaret(2);
        QTest::keyClick(m_pView, Qt::Key(nKey));
        QCOMPARE(m_host.m_baWritten, baSent);
        QCOMPARE(m_pView->LogBytes(), baLog);
    }

    // Where one long line is split into paragraphs, editing still acts on the bytes.
    void EditingAtAContinuationBreak_data()
    {
        QTest::addColumn<int>("nKey");
        QTest::addColumn<bool>("bAtStart");
        QTest::addColumn<int>("nAt");
        QTest::addColumn<QByteArray>("baInserted"); // empty: the byte at nAt is removed
        const int nBreak = CBremView::g_nSoftBlockChars;
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << true << nBreak - 1 << QByteArray();
        QTest::newRow("delete") << int(Qt::Key_Delete) << false << nBreak << QByteArray();
        QTest::newRow("enter") << int(Qt::Key_Return) << true << nBreak << QByteArray("\r\n");
        QTest::newRow("letter") << int(Qt::Key_X) << true << nBreak << QByteArray("x");
    }
    void EditingAtAContinuationBreak()
    {
        QFETCH(int, nKey);
        QFETCH(bool, bAtStart);
        QFETCH(int, nAt);
        QFETCH(QByteArray, baInserted);
        const QByteArray baLine = LongLine();
        m_pView->SetLogBytes(baLine);
        const int nBlocks = m_pView->document()->blockCount();
        const QTextBlock second = m_pView->document()->firstBlock().next();
        QVERIFY(second.isValid());
        PutCaret(bAtStart ? second.position() : second.position() - 1);
        QTest::keyClick(m_pView, Qt::Key(nKey));
        QByteArray baExpected = baLine;
        if (baInserted.isEmpty())
            baExpected.remove(nAt, 1);
        else
            baExpected.insert(nAt, baInserted);
        QCOMPARE(m_pView->LogBytes(), baExpected);
        if (nKey == Qt::Key_X) // typing does not split the line into more paragraphs
            QCOMPARE(m_pView->document()->blockCount(), nBlocks);
        // Undo brings the paragraph structure back with the bytes.
        m_pView->undo();
        QCOMPARE(m_pView->LogBytes(), baLine);
    }

    void CopyAndPasteKeepBytesAndSendNothing()
    {
        const QByteArray baLog = LongLine() + "\r\n\r\xa0\n\0" + AllBytes();
        m_pView->SetLogBytes(baLog);
        m_pView->selectAll();
        QTest::keyClick(m_pView, Qt::Key_C, Qt::ControlModifier);
        m_pView->ClearLog();
        QTest::keyClick(m_pView, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_pView->LogBytes(), baLog);

        // Text from elsewhere is pasted as the bytes it stands for.
        m_pView->SetLogBytes("ab");
        PutCaret(1);
        QGuiApplication::clipboard()->setText(QStringLiteral("x\ny\u240D"));
        QTest::keyClick(m_pView, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_pView->LogBytes(), QByteArray("ax\r\ny\rb"));
        QVERIFY(m_host.m_baWritten.isEmpty());
        QVERIFY(!m_pView->document()->isModified());
    }

    void UndoRevertsTypingButNeverAnAppend()
    {
        m_pView->SetLogBytes("log ");
        m_pView->moveCursor(QTextCursor::End);
        QTest::keyClicks(m_pView, "ab");
        QTest::keyClick(m_pView, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_pView->LogBytes(), QByteArray("log "));

        QTest::keyClicks(m_pView, "cd");
        Feed("RX");
        QTest::keyClick(m_pView, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(m_pView, Qt::Key_Backspace, Qt::AltModifier);
        QCOMPARE(m_pView->LogBytes(), QByteArray("log cdRX"));
        QVERIFY(!m_pView->document()->isModified());
    }

    void LogBytesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("baBytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("every byte") << AllBytes();
        QTest::newRow("line endings") << QByteArray("\ra\nb\r\r\n\nOK\r\n\r\n\n");
        QTest::newRow("nul") << QByteArray("\0a\0", 3);
        QTest::newRow("paragraph edge") << QByteArray(CBremView::g_nSoftBlockChars, 'x') + "\r\n"
                + QByteArray(CBremView::g_nSoftBlockChars + 1, 'y');
        QTest::newRow("100 KB line") << QByteArray(100 * 1024, 'z');
    }
    void LogBytesRoundTrip()
    {
        QFETCH(QByteArray, baBytes);
        m_pView->SetLogBytes(baBytes);
        QCOMPARE(m_pView->LogBytes(), baBytes);
    }

    void LongAppendedLinesStayInSmallParagraphs()
    {
        Feed(QByteArray(20000, 'q'));
        QCOMPARE(m_pView->LogBytes(), QByteArray(20000, 'q'));
        m_pView->FlushPending();
        for (QTextBlock block = m_pView->document()->firstBlock(); block.isValid();
             block = block.next())
            QVERIFY(block.length() <= CBremView::g_nSoftBlockChars + 1);
    }

    void PendingAppendsAreSeenByEveryOperation()
    {
        Feed("abc");
        m_pView->ClearLog();
        Feed("d");
        QCOMPARE(m_pView->LogBytes(), QByteArray("d"));
        m_pView->ClearLog();
        m_pView->ClearLog();
        QCOMPARE(m_pView->LogBytes(), QByteArray());

        // Typing lands after bytes that arrived but were not yet shown.
        m_pView->moveCursor(QTextCursor::End);
        Feed("rx");
        QTest::keyClick(m_pView, 'T');
        QCOMPARE(m_pView->LogBytes(), QByteArray("rxT"));
    }
};

QTEST_MAIN(CBremViewTest)
#include "test_bremview.moc"
