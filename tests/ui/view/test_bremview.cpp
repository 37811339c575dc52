#include "../../logmodel/randombytes.h"
#include "bremdoc.h"
#include "bremview.h"
#include "bremviewhost.h"
#include "logcodec.h"
#include "logstore.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

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

// What the log holds after the bytes were received one at a time.
QByteArray Received(const QByteArray& baFed)
{
    QByteArray ba;
    for (char c : baFed) {
        if (c == '\r')
            ba += "\r\n";
        else if (c != '\n' && c != '\0')
            ba += c;
    }
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
    void Press(int nKey, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& strText = {})
    {
        QKeyEvent press(QEvent::KeyPress, nKey, mods, strText);
        QCoreApplication::sendEvent(m_pView, &press);
    }
    void Load(const QByteArray& ba, int64_t nCaret)
    {
        m_pView->SetLogBytes(ba);
        m_pView->SetSelection(nCaret, nCaret);
    }
    // Each display the view has: UTF-8 text, one character per byte, hex, text with times.
    void SetDisplay(int nMode)
    {
        m_pView->SetLatin1(nMode == 1);
        m_pView->SetHex(nMode == 2);
        m_pView->SetTimestamps(nMode == 3);
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

    // Lines that arrive are stamped when their first byte comes; typed ones have no time, and an
    // edit elsewhere leaves the stamps alone.
    void ArrivalTimes()
    {
        int64_t nNow = 5000;
        m_pView->Store().SetClock([&nNow] { return nNow; });
        Feed("first");
        nNow = 6000;
        Feed("\rsecond\r");
        nNow = 7250;
        m_pView->AppendLine("line");
        nNow = 8000;
        Feed("open");
        const auto times = [this] {
            QList<int64_t> list;
            for (int64_t n = 0; n < m_pView->Store().LineCount(); ++n)
                list << m_pView->Store().LineTime(n);
            return list;
        };
        QCOMPARE(times(), (QList<int64_t> { 5000, 6000, 7250, 8000 }));

        m_pView->SetSelection(2, 2);
        Press(Qt::Key_Return); // a typed break splits the first line; its new half has no time
        QCOMPARE(m_pView->LogBytes(), QByteArray("fi\r\nrst\r\nsecond\r\nline\r\nopen"));
        QCOMPARE(times(), (QList<int64_t> { 5000, CLogStore::g_nNoTime, 6000, 7250, 8000 }));

        QTemporaryDir dir;
        CBremDoc doc(m_pView, nullptr);
        QString strError;
        const QString strPath = dir.filePath(QStringLiteral("times.txt"));
        QVERIFY(doc.SaveWithTimestamps(strPath, strError));
        QFile file(strPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].endsWith(":05.000  fi\r"));
        QCOMPARE(lines[1], QByteArray(25, ' ') + "rst\r");
        QVERIFY(lines[3].endsWith(":07.250  line\r"));
        QVERIFY(lines[4].endsWith(":08.000  open"));
        // The plain save holds the bytes only.
        QVERIFY(doc.OnSaveDocument(strPath, strError));
        file.close();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), m_pView->LogBytes());
    }

    // A written line stops at its first zero and ends with CR LF; of the bytes received, a lone
    // CR ends a line, LF and NUL are dropped and every other byte is kept.
    void WrittenAndReceivedLines()
    {
        m_pView->AppendLine("Handshake OK");
        m_pView->AppendLine(std::string("ab\0cd", 5));
        m_pView->AppendLine("");
        Feed(QByteArray("OK\r\nA\rB\0\x01\x7f\x85\xff\n", 13));
        QCOMPARE(m_pView->LogBytes(),
            QByteArray("Handshake OK\r\nab\r\n\r\nOK\r\nA\r\nB\x01\x7f\x85\xff"));
    }

    // A saved log loads as its bytes in either mode, breaks lines by the mode's rule (and anew
    // when the mode changes) and saves back unchanged.
    void LoadingInEachMode()
    {
        QTemporaryDir dir;
        const QString strPath = dir.filePath(QStringLiteral("log.txt"));
        const QByteArray baFile("a\nb\rc\r\nd\n\re\0", 13);
        QFile file(strPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(baFile) == baFile.size());
        file.close();
        CBremDoc doc(m_pView, nullptr);
        QString strError;
        for (ELineEnds eEnds : { ELineEnds::CrLf, ELineEnds::AsReceived }) {
            m_pView->SetLineEnds(eEnds);
            QVERIFY(doc.OnOpenDocument(strPath, strError));
            QCOMPARE(m_pView->LogBytes(), baFile);
            QCOMPARE(m_pView->Store().LineCount(), eEnds == ELineEnds::CrLf ? 2 : 6);
            m_pView->SetLineEnds(
                eEnds == ELineEnds::CrLf ? ELineEnds::AsReceived : ELineEnds::CrLf);
            QCOMPARE(m_pView->Store().LineCount(), eEnds == ELineEnds::CrLf ? 6 : 2);
            QVERIFY(doc.OnSaveDocument(strPath, strError));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), baFile);
            file.close();
        }
    }

    // Random bytes, received in random pieces, then loaded, shown, walked over, copied and
    // pasted in every display and line-end mode: the bytes never change, and the caret stops at
    // the same cell edges going either way.
    void RandomBytesSurviveEveryDisplay()
    {
        QRandomGenerator random(7);
        for (int nMode = 0; nMode < 8; ++nMode) {
            SetDisplay(nMode % 4);
            const ELineEnds eEnds = nMode < 4 ? ELineEnds::CrLf : ELineEnds::AsReceived;
            m_pView->SetLineEnds(eEnds);
            const QByteArray baFed = RandomBytes(random, 20000);
            m_pView->ClearLog();
            for (qsizetype i = 0; i < baFed.size();) {
                const qsizetype n = std::min<qsizetype>(baFed.size() - i, random.bounded(1, 9));
                m_pView->AppendRaw(
                    reinterpret_cast<const unsigned char*>(baFed.constData() + i), uint32_t(n));
                i += n;
            }
            QCOMPARE(m_pView->LogBytes(), eEnds == ELineEnds::CrLf ? Received(baFed) : baFed);
            m_pView->grab(); // paints the end

            const QByteArray baFile = RandomBytes(random, 3000);
            m_pView->SetLogBytes(baFile);
            m_pView->grab();
            QCOMPARE(m_pView->LogBytes(), baFile);
            if (nMode % 4 == 2)
                continue; // no caret or clipboard in the hex view
            QList<int64_t> edges { 0 };
            for (Press(Qt::Key_Right); m_pView->CaretPos() != edges.last(); Press(Qt::Key_Right))
                edges << m_pView->CaretPos();
            QCOMPARE(m_pView->CaretPos(), baFile.size());
            QVERIFY(edges.size() > baFile.size() / 4);
            QList<int64_t> back { m_pView->CaretPos() };
            while (back.first() > 0) {
                Press(Qt::Key_Left);
                QVERIFY(m_pView->CaretPos() < back.first());
                back.prepend(m_pView->CaretPos());
            }
            QCOMPARE(back, edges);
            m_pView->SelectAll();
            m_pView->Copy();
            m_pView->ClearLog();
            m_pView->Paste();
            QCOMPARE(m_pView->LogBytes(), baFile);
        }
        QVERIFY(m_host.m_baWritten.isEmpty());
    }

    // A line far longer than the screen: the caret at its end is shown, and Ctrl+Home and
    // Ctrl+End go to either end.
    void LongLineCaret()
    {
        QByteArray baLine;
        for (int n = 0; n < 200000; ++n)
            baLine += n % 97 == 0 ? "\xe4\xb8\xad" : n % 89 == 0 ? "\t" : "x";
        Feed(baLine);
        QVERIFY(m_pView->IsCaretVisible());
        Press(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(m_pView->TopPos(), 0);
        Press(Qt::Key_End, Qt::ControlModifier);
        QVERIFY(m_pView->IsCaretVisible());
    }

    // A lone LF leaves the operator's selection alone; NUL and any shown byte drop it.
    void AppendDropsSelectionAndShowsTheEnd()
    {
        QByteArray baLog;
        for (int n = 0; n < 200; ++n)
            baLog += "line " + QByteArray::number(n) + "\r\n";
        m_pView->SetLogBytes(baLog);
        for (const QByteArray& baFed : { QByteArray(1, '\0'), QByteArray("X") }) {
            m_pView->SetSelection(10, 20);
            m_pView->verticalScrollBar()->setValue(0);
            QCOMPARE(m_pView->TopPos(), 0);
            Feed("\n");
            m_pView->FlushPending();
            QVERIFY(m_pView->HasSelection());
            QCOMPARE(m_pView->TopPos(), 0);
            Feed(baFed);
            QVERIFY(!m_pView->HasSelection());
            QCOMPARE(m_pView->CaretPos(), m_pView->Store().Size());
            QVERIFY(m_pView->IsCaretVisible());
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
        QTest::addColumn<int>("nMods");
        QTest::addColumn<QString>("strText");
        QTest::addColumn<QByteArray>("baSent");
        QTest::addColumn<QByteArray>("baLog");
        QTest::addColumn<QByteArray>("baKept");
        // Pressed in "ab|cd": unless given, the log shows what was sent at the caret; with line
        // ends as received, it keeps what was sent.
        const auto row = [](const char* szName, int nKey, int nMods, const QString& strText,
                             const QByteArray& baSent, const QByteArray& baLog = {}) {
            const QByteArray baShown = baLog.isNull() ? "ab" + baSent + "cd" : baLog;
            QTest::newRow(szName) << nKey << nMods << strText << baSent << baShown
                                  << (baSent.isEmpty() ? baShown : "ab" + baSent + "cd");
        };
        const int nCtrl = Qt::ControlModifier;
        row("letter", Qt::Key_X, 0, "x", "x");
        row("enter", Qt::Key_Return, 0, "\r", "\r", "ab\r\ncd");
        row("backspace", Qt::Key_Backspace, 0, "\b", "\b", "acd");
        row("tab", Qt::Key_Tab, 0, "\t", "\t");
        row("escape", Qt::Key_Escape, 0, "\x1b", "\x1b");
        row("delete", Qt::Key_Delete, 0, "", "", "abd");
        row("left", Qt::Key_Left, 0, "", "");
        row("ctrl+a", Qt::Key_A, nCtrl, "", "\x01");
        row("ctrl+shift+z", Qt::Key_Z, int(Qt::ControlModifier | Qt::ShiftModifier), "", "\x1a");
        row("ctrl+[", Qt::Key_BracketLeft, nCtrl, "", "\x1b");
        row("ctrl+_", Qt::Key_Underscore, nCtrl, "", "\x1f");
        row("ctrl+backspace", Qt::Key_Backspace, nCtrl, "", "\x7f");
        row("alt+x", Qt::Key_X, Qt::AltModifier, "x", "");
        row("cjk", Qt::Key_unknown, 0, QStringLiteral("\u4E2D"), "\xe4\xb8\xad");
    }
    void Keys()
    {
        QFETCH(int, nKey);
        QFETCH(int, nMods);
        QFETCH(QString, strText);
        QFETCH(QByteArray, baSent);
        QFETCH(QByteArray, baLog);
        QFETCH(QByteArray, baKept);
        // The hex view types as the text view does.
        for (bool bHex : { false, true }) {
            for (ELineEnds eEnds : { ELineEnds::CrLf, ELineEnds::AsReceived }) {
                m_pView->SetHex(bHex);
                m_pView->SetLineEnds(eEnds);
                m_host.m_baWritten.clear();
                Load("abcd", 2);
                Press(nKey, Qt::KeyboardModifiers(nMods), strText);
                QCOMPARE(m_host.m_baWritten, baSent);
                QCOMPARE(m_pView->LogBytes(), eEnds == ELineEnds::CrLf ? baLog : baKept);
            }
        }
    }

    // Backspace and Delete take a whole character or line break, never half of one.
    void DeletingTakesWholeCells()
    {
        Load("a\xe4\xb8\xad\r\nb", 6);
        Press(Qt::Key_Backspace, {}, QStringLiteral("\b"));
        QCOMPARE(m_pView->LogBytes(),
            QByteArray("a\xe4\xb8\xad"
                       "b"));
        Press(Qt::Key_Left);
        Press(Qt::Key_Delete);
        QCOMPARE(m_pView->LogBytes(), QByteArray("ab"));
        // One character per byte: the same bytes are three cells.
        m_pView->SetLatin1(true);
        Load("\xe4\xb8\xad", 3);
        Press(Qt::Key_Backspace, {}, QStringLiteral("\b"));
        QCOMPARE(m_pView->LogBytes(), QByteArray("\xe4\xb8"));
    }

    void HexRows()
    {
        QByteArray baStream("AT\r\n\x00\x1b\xff OK 0123456789abcdef", 27);
        QCOMPARE(CLogCodec::HexRow(0, baStream.left(16), 16, 8),
            QStringLiteral(
                "00000000  41 54 0D 0A 00 1B FF 20  4F 4B 20 30 31 32 33 34  AT..... OK 01234"));
        QCOMPARE(CLogCodec::HexRow(16, baStream.mid(16), 16, 8),
            QStringLiteral(
                "00000010  35 36 37 38 39 61 62 63  64 65 66                 56789abcdef"));
        QCOMPARE(CLogCodec::HexDigits(int64_t(1) << 32), 9);
        // The hex view follows appends.
        m_pView->SetHex(true);
        for (int n = 0; n < 100; ++n)
            Feed(baStream);
        QVERIFY(m_pView->IsCaretVisible());
        QVERIFY(m_pView->TopPos() > 0);
    }

    // Typing, pasting, cutting and deleting are undone step by step; received bytes and Clear
    // are never undone, and only the typed keys are sent.
    void EditingAndUndo()
    {
        Load("log ", 4);
        QTest::keyClicks(m_pView, "ab");
        m_pView->Undo();
        QCOMPARE(m_pView->LogBytes(), QByteArray("log "));
        QVERIFY(!m_pView->IsUndoAvailable());

        QTest::keyClicks(m_pView, "cd");
        Feed("RX");
        m_pView->Undo();
        QCOMPARE(m_pView->LogBytes(), QByteArray("log cdRX"));
        // Text from elsewhere is pasted as the bytes it stands for.
        QGuiApplication::clipboard()->setText(QStringLiteral("x\ny\u240D"));
        m_pView->Paste();
        QCOMPARE(m_pView->LogBytes(), QByteArray("log cdRXx\r\ny\r"));
        Press(Qt::Key_Left);
        Press(Qt::Key_Delete);
        QCOMPARE(m_pView->LogBytes(), QByteArray("log cdRXx\r\ny"));
        m_pView->Undo();
        // Cut takes the selection out; paste puts it back where the caret is.
        m_pView->SetSelection(8, 11);
        m_pView->Cut();
        QCOMPARE(m_pView->LogBytes(), QByteArray("log cdRXy\r"));
        m_pView->SetSelection(0, 0);
        m_pView->Paste();
        QCOMPARE(m_pView->LogBytes(), QByteArray("x\r\nlog cdRXy\r"));
        for (const char* szBefore : { "log cdRXy\r", "log cdRXx\r\ny\r", "log cdRX" }) {
            m_pView->Undo();
            QCOMPARE(m_pView->LogBytes(), QByteArray(szBefore));
        }
        m_pView->ClearLog();
        m_pView->Undo();
        QVERIFY(m_pView->LogBytes().isEmpty());
        QCOMPARE(m_host.m_baWritten, QByteArray("abcd"));
    }

    void ClickPutsTheCaret()
    {
        m_pView->SetLogBytes("first line\r\nsecond line\r\n");
        m_pView->FlushPending();
        const QFontMetrics metrics(m_pView->font());
        const int nRow = metrics.height() + 2;
        QTest::mouseClick(m_pView->viewport(), Qt::LeftButton, {},
            QPoint(4 + metrics.horizontalAdvance(QStringLiteral("sec")), nRow + nRow / 2));
        QCOMPARE(m_pView->CaretPos(), 15);
        QTest::mouseClick(m_pView->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(300, 2));
        QCOMPARE(m_pView->SelectedBytes(), QByteArray("\r\nsec"));
    }
};

QTEST_MAIN(CBremViewTest)
#include "test_bremview.moc"
