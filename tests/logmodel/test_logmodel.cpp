// The log's model without a widget: store, line-end rules, codec, layout, editor and the text a
// screen reader gets.
#include "logcodec.h"
#include "logeditor.h"
#include "loglayout.h"
#include "logstore.h"
#include "logtextwindow.h"
#include "randombytes.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QRandomGenerator>
#include <QTest>

namespace {

// Where the lines of the bytes start, by the rule written out plainly.
QList<int64_t> LineStarts(const QByteArray& ba, ELineEnds eEnds)
{
    QList<int64_t> starts { 0 };
    for (qsizetype i = 0; i < ba.size(); ++i) {
        const bool bPair = ba[i] == '\r' && i + 1 < ba.size() && ba[i + 1] == '\n';
        if (bPair)
            starts << ++i + 1;
        else if (eEnds == ELineEnds::AsReceived && (ba[i] == '\r' || ba[i] == '\n'))
            starts << i + 1;
    }
    return starts;
}

QList<QByteArray> Lines(const CLogStore& store)
{
    QList<QByteArray> lines;
    for (int64_t n = 0; n < store.LineCount(); ++n)
        lines << store.Bytes(store.LineStart(n), store.LineStart(n + 1));
    return lines;
}

QByteArray Saved(const CLogStore& store)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    return store.WriteTo(buffer) ? buffer.data() : QByteArray("write failed");
}

void Feed(CLogEditor& editor, const QByteArray& ba, bool bOneByOne)
{
    const auto* p = reinterpret_cast<const unsigned char*>(ba.constData());
    if (!bOneByOne)
        editor.AppendRaw(p, uint32_t(ba.size()));
    for (qsizetype i = 0; bOneByOne && i < ba.size(); ++i)
        editor.AppendRaw(p + i, 1);
}

QString WindowText(const QByteArray& ba, ELineEnds eEnds)
{
    CLogStore store;
    store.SetLineEnds(eEnds);
    store.Append(ba.constData(), ba.size());
    CLogTextWindow window(store);
    window.Update(store.Size(), true, false);
    return window.Text();
}

} // namespace

class CLogModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The store against a plain byte array: appends and edits anywhere, across block edges, by
    // both rules and after a switch from one to the other.
    void StoreKeepsBytesAndLines_data()
    {
        QTest::addColumn<int>("nEnds");
        QTest::newRow("CR LF") << int(ELineEnds::CrLf);
        QTest::newRow("as received") << int(ELineEnds::AsReceived);
    }
    void StoreKeepsBytesAndLines()
    {
        QFETCH(int, nEnds);
        const auto eEnds = ELineEnds(nEnds);
        QRandomGenerator random(42 + nEnds);
        CLogStore store(4096);
        store.SetLineEnds(eEnds);
        QByteArray baModel;
        for (int nStep = 0; nStep < 400; ++nStep) {
            const QByteArray baNew
                = RandomBytes(random, random.bounded(nStep % 50 == 0 ? 20000 : 300));
            const int64_t nFrom = random.bounded(int(baModel.size()) + 1);
            const int64_t nTo = std::min<int64_t>(baModel.size(), nFrom + random.bounded(2000));
            switch (random.bounded(3)) {
            case 0:
                store.Append(baNew.constData(), baNew.size());
                baModel += baNew;
                break;
            case 1:
                store.Replace(nFrom, nTo, baNew.constData(), baNew.size());
                baModel.replace(nFrom, nTo - nFrom, baNew);
                break;
            default:
                store.Replace(nFrom, nTo, nullptr, 0);
                baModel.remove(nFrom, nTo - nFrom);
                break;
            }
            QCOMPARE(store.Size(), baModel.size());
        }
        QCOMPARE(Saved(store), baModel);
        for (ELineEnds eNow : { eEnds, ELineEnds(1 - nEnds) }) {
            store.SetLineEnds(eNow);
            const QList<int64_t> starts = LineStarts(baModel, eNow);
            QCOMPARE(store.LineCount(), starts.size());
            for (int64_t nLine = 0; nLine < starts.size(); ++nLine)
                QCOMPARE(store.LineStart(nLine), starts[nLine]);
            for (int n = 0; n < 3000; ++n) {
                const int64_t nPos = random.bounded(int(baModel.size()) + 1);
                const auto it = std::upper_bound(starts.begin(), starts.end(), nPos);
                QCOMPARE(store.LineOf(nPos), int64_t(it - starts.begin()) - 1);
            }
        }
    }

    // What is kept of each received byte, how it breaks lines and what Ctrl+S writes, in either
    // mode, with the bytes at every offset of tiny blocks, in one delivery or one byte each.
    void ReceivedBytesByMode_data()
    {
        QTest::addColumn<QByteArray>("baFed");
        QTest::addColumn<QStringList>("crlfLines");
        QTest::addColumn<QStringList>("asReceivedLines");
        const auto lines = [](std::initializer_list<const char*> list) {
            QStringList out;
            for (const char* sz : list)
                out << QString::fromLatin1(sz);
            return out;
        };
        QTest::newRow("NUL") << QByteArray("A\0B", 3) << lines({ "AB" })
                             << QStringList { QStringLiteral("A") + QChar(0) + "B" };
        QTest::newRow("lone LF") << QByteArray("A\nB") << lines({ "AB" }) << lines({ "A\n", "B" });
        QTest::newRow("lone CR") << QByteArray("A\rB") << lines({ "A\r\n", "B" })
                                 << lines({ "A\r", "B" });
        QTest::newRow("CR LF") << QByteArray("A\r\nB") << lines({ "A\r\n", "B" })
                               << lines({ "A\r\n", "B" });
        QTest::newRow("LF CR") << QByteArray("A\n\rB") << lines({ "A\r\n", "B" })
                               << lines({ "A\n", "\r", "B" });
        QTest::newRow("CR CR LF LF") << QByteArray("A\r\r\n\nB") << lines({ "A\r\n", "\r\n", "B" })
                                     << lines({ "A\r", "\r\n", "\n", "B" });
        QTest::newRow("ends in CR")
            << QByteArray("A\r") << lines({ "A\r\n", "" }) << lines({ "A\r", "" });
    }
    void ReceivedBytesByMode()
    {
        QFETCH(QByteArray, baFed);
        QFETCH(QStringList, crlfLines);
        QFETCH(QStringList, asReceivedLines);
        for (ELineEnds eEnds : { ELineEnds::CrLf, ELineEnds::AsReceived }) {
            for (int nPrefix = 0; nPrefix <= 8; ++nPrefix) {
                for (bool bOneByOne : { false, true }) {
                    CLogStore store(8);
                    store.SetLineEnds(eEnds);
                    CLogEditor editor(store);
                    const QByteArray baPrefix(nPrefix, 'x');
                    Feed(editor, baPrefix + baFed, bOneByOne);
                    QStringList expected = eEnds == ELineEnds::CrLf ? crlfLines : asReceivedLines;
                    expected[0].prepend(QString::fromLatin1(baPrefix));
                    QStringList got;
                    for (const QByteArray& baLine : Lines(store))
                        got << QString::fromLatin1(baLine);
                    QCOMPARE(got, expected);
                    QCOMPARE(Saved(store), expected.join(QString()).toLatin1());
                    if (eEnds == ELineEnds::AsReceived)
                        QCOMPARE(Saved(store), baPrefix + baFed);
                    QCOMPARE(editor.Caret(), store.Size());
                }
            }
        }
    }

    // A line is stamped when its first byte comes; an LF that joins a CR starts no line.
    void ArrivalTimesByMode()
    {
        for (ELineEnds eEnds : { ELineEnds::CrLf, ELineEnds::AsReceived }) {
            CLogStore store(8);
            store.SetLineEnds(eEnds);
            int64_t nNow = 1;
            store.SetClock([&nNow] { return nNow; });
            CLogEditor editor(store);
            for (const char* sz : { "Ab\r", "\n", "\n", "c", "def\rgh" }) {
                Feed(editor, sz, false);
                ++nNow;
            }
            QList<int64_t> times;
            for (int64_t n = 0; n < store.LineCount(); ++n)
                times << store.LineTime(n);
            if (eEnds == ELineEnds::CrLf)
                QCOMPARE(times, (QList<int64_t> { 1, 4, 5 })); // "Ab", "cdef", "gh"
            else
                QCOMPARE(times, (QList<int64_t> { 1, 3, 4, 5 })); // "Ab", "", "cdef", "gh"
            // Switching keeps the times of the breaks there either way.
            store.SetLineEnds(eEnds == ELineEnds::CrLf ? ELineEnds::AsReceived : ELineEnds::CrLf);
            times.clear();
            for (int64_t n = 0; n < store.LineCount(); ++n)
                times << store.LineTime(n);
            const QList<int64_t> after
                = eEnds == ELineEnds::CrLf ? QList<int64_t> { 1, 4, 5 } : QList<int64_t> { 1, 3 };
            QCOMPARE(times, after);
        }
    }

    // Each cell as its kind's letter (Glyph, Tab, Break, Named, Invalid, Hidden) and byte count.
    void Decode_data()
    {
        QTest::addColumn<QByteArray>("baBytes");
        QTest::addColumn<bool>("bUtf8");
        QTest::addColumn<int>("nEnds");
        QTest::addColumn<QString>("strCells");
        const int nCrLf = int(ELineEnds::CrLf), nAsReceived = int(ELineEnds::AsReceived);
        QTest::newRow("utf-8 text")
            << QByteArray("\xe5\xb0\xb1\xe7\xbb\xaa.") << true << nCrLf << "G3 G3 G1";
        QTest::newRow("cut sequence") << QByteArray("\xe4\xb8") << true << nCrLf << "I1 I1";
        QTest::newRow("overlong, surrogate, too high")
            << QByteArray("\xc0\x80\xed\xa0\x80\xf4\x90\x80\x80") << true << nCrLf
            << "I1 I1 I1 I1 I1 I1 I1 I1 I1";
        QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x98\x80") << true << nCrLf << "G4";
        QTest::newRow("c1 and hidden")
            << QByteArray("\xc2\x85\xe2\x80\xae\xef\xbb\xbf") << true << nCrLf << "N2 H3 H3";
        QTest::newRow("controls, CR LF")
            << QByteArray("\r\n\n\r\x7f\t") << true << nCrLf << "B2 N1 N1 N1 T1";
        QTest::newRow("controls, as received")
            << QByteArray("\r\n\n\r\x7f\0", 6) << true << nAsReceived << "B2 B1 B1 N1 N1";
        QTest::newRow("latin-1") << QByteArray("\xe9\x85\xad\xa0") << false << nCrLf
                                 << "G1 N1 N1 G1";
    }
    void Decode()
    {
        QFETCH(QByteArray, baBytes);
        QFETCH(bool, bUtf8);
        QFETCH(int, nEnds);
        QFETCH(QString, strCells);
        QStringList cells;
        const auto* p = reinterpret_cast<const unsigned char*>(baBytes.constData());
        for (qsizetype i = 0; i < baBytes.size();) {
            const SLogCell cell = CLogCodec::Decode(
                p + i, int(std::min<qsizetype>(4, baBytes.size() - i)), bUtf8, ELineEnds(nEnds));
            QVERIFY(cell.m_nBytes > 0);
            cells << QStringLiteral("GTBNIH")[cell.m_eKind] + QString::number(cell.m_nBytes);
            i += cell.m_nBytes;
        }
        QCOMPARE(cells.join(' '), strCells);
    }

    // No box of an undecodable byte reads like a control's box, in either decoding.
    void BoxLabelsAndForeignText()
    {
        QSet<QString> named, invalid;
        for (int n = 0; n < 256; ++n) {
            const auto nByte = static_cast<unsigned char>(n);
            for (bool bUtf8 : { true, false }) {
                const SLogCell cell = CLogCodec::Decode(&nByte, 1, bUtf8, ELineEnds::CrLf);
                if (cell.m_eKind == SLogCell::Invalid)
                    invalid << CLogCodec::BoxText(cell);
                else if (cell.m_eKind == SLogCell::Named)
                    named << CLogCodec::BoxText(cell);
            }
        }
        QCOMPARE(invalid.size(), 0x100 - 0x80);
        QVERIFY(!named.intersects(invalid));
        QVERIFY(invalid.contains(QStringLiteral("\\xFF")) && named.contains(QStringLiteral("FF")));
        // Text from other programs: line endings become CR LF, control pictures their bytes.
        QCOMPARE(CLogCodec::TextToBytes(QStringLiteral("a\nb\r\nc\rd\u240D\u2400\u2421\u4E2D")),
            QByteArray("a\r\nb\r\nc\r\nd\r\0\x7f\xe4\xb8\xad", 16));
        QCOMPARE(CLogCodec::BytesToText(QByteArray("a\r\n\x01\xff\n", 6), true, ELineEnds::CrLf),
            QStringLiteral("a\n\u2401\uFFFD\u240A"));
        QCOMPARE(
            CLogCodec::BytesToText(QByteArray("a\r\n\x01\xff\n", 6), true, ELineEnds::AsReceived),
            QStringLiteral("a\n\u2401\uFFFD\n"));
    }

    // A line far longer than the screen: every position's row start is the one found by walking
    // the line from its start; a UTF-8 character whose bytes come in two deliveries is one cell.
    void LayoutRows()
    {
        CLogStore store;
        QByteArray baLine;
        for (int n = 0; n < 200000; ++n)
            baLine += n % 97 == 0 ? "\xe4\xb8\xad" : n % 89 == 0 ? "\t" : "x";
        store.Append(baLine.constData(), baLine.size());
        CLogLayout layout(store);
        const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        layout.SetFonts(font, font);
        layout.SetWidth(300);
        QList<int64_t> starts;
        for (int64_t nRow = 0; nRow >= 0; nRow = layout.NextRow(nRow))
            starts << nRow;
        QVERIFY(starts.size() > 100);
        QRandomGenerator random(3);
        for (int n = 0; n < 200; ++n) {
            const int64_t nPos = random.bounded(int(store.Size()) + 1);
            auto it = std::upper_bound(starts.begin(), starts.end(), nPos);
            QCOMPARE(layout.RowStartOf(nPos), *(it - 1));
        }
        QCOMPARE(layout.PrevRow(starts.last()), starts[starts.size() - 2]);

        store.Clear();
        layout.Invalidate();
        store.Append("\xe4", 1);
        std::vector<SPlacedCell> cells;
        layout.LayoutRow(0, &cells);
        QCOMPARE(cells[0].m_cell.m_eKind, SLogCell::Invalid);
        store.Append("\xb8\xad!", 3);
        layout.LayoutRow(0, &cells);
        QCOMPARE(cells.size(), size_t(2));
        QCOMPARE(cells[0].m_cell.m_nChar, char32_t(0x4E2D));
    }

    // Typed keys as the log keeps them in each mode, whole cells deleted, and undo step by step.
    void TypingAndUndo()
    {
        for (ELineEnds eEnds : { ELineEnds::CrLf, ELineEnds::AsReceived }) {
            CLogStore store(8);
            store.SetLineEnds(eEnds);
            CLogEditor editor(store);
            Feed(editor, "log \xe4\xb8\xad", false);
            for (const char* sz : { "a", "\r", "\b", "\n", "\0" })
                editor.Type(QByteArray(sz, 1));
            const bool bCrLf = eEnds == ELineEnds::CrLf;
            QCOMPARE(Saved(store),
                bCrLf ? QByteArray("log \xe4\xb8\xad"
                                   "a\n\0",
                    10) // Backspace took the break
                      : QByteArray("log \xe4\xb8\xad"
                                   "a\r\b\n\0",
                          12));
            editor.MoveCaret(7, false);
            QCOMPARE(editor.CellBoundary(7, false), 4);
            QCOMPARE(editor.CellBoundary(4, true), 7);
            editor.DeleteCell(false); // the whole character
            QCOMPARE(store.Bytes(0, 5), QByteArray("log a"));
            editor.Undo();
            QCOMPARE(store.Bytes(0, 8),
                QByteArray("log \xe4\xb8\xad"
                           "a"));
            while (editor.IsUndoAvailable())
                editor.Undo();
            QCOMPARE(Saved(store), QByteArray("log \xe4\xb8\xad"));
            // Received bytes are never undone, and they end what could be.
            editor.Type("x");
            Feed(editor, "RX", false);
            QVERIFY(!editor.IsUndoAvailable());
        }
    }

    // The screen reader's text: as the view shows it, offsets that stay put while bytes
    // arrive, a cut character held back until it is whole, and a bounded stretch of a large log.
    void TextWindow()
    {
        QCOMPARE(WindowText(QByteArray("OK\r\n\x1b[1m\xff\0\tA", 12), ELineEnds::CrLf),
            QStringLiteral("OK\n<ESC>[1m<\\xFF><NUL>\tA"));
        QCOMPARE(WindowText("a\rb\nc\n\r", ELineEnds::AsReceived), QStringLiteral("a\nb\nc\n\n"));
        QCOMPARE(WindowText("a\rb\nc", ELineEnds::CrLf), QStringLiteral("a<CR>b<LF>c"));

        CLogStore store(64);
        CLogTextWindow window(store);
        store.Append("first\r\n\x07", 8);
        window.Update(store.Size(), true, false);
        QCOMPARE(window.OffsetOf(7), 6);
        QCOMPARE(window.PosOf(8), 7); // inside "<BEL>": the cell's start
        store.Append("\xe4", 1);
        CLogTextWindow::SChange change = window.Update(store.Size(), true, false);
        QVERIFY(change.IsEmpty());
        store.Append("\xb8\xad\r", 3);
        change = window.Update(store.Size(), true, false);
        QCOMPARE(change.m_nPos, 11);
        QVERIFY(change.m_strRemoved.isEmpty());
        QCOMPARE(change.m_strInserted, QStringLiteral("\u4E2D")); // the CR waits for its LF
        QCOMPARE(window.OffsetOf(7), 6);

        // 8 MB of lines: the text around a place in the middle, no more.
        QByteArray baLines;
        for (int n = 0; baLines.size() < 8 * 1024 * 1024; ++n)
            baLines += "line " + QByteArray::number(n).rightJustified(8, '0') + "\r\n";
        store.Clear();
        store.Append(baLines.constData(), baLines.size());
        const int64_t nMiddle = baLines.indexOf("line 00300000");
        window.Update(nMiddle + 3, true, true);
        QVERIFY(window.Text().size() <= CLogTextWindow::g_nMaxBytes);
        QVERIFY(window.From() <= nMiddle && window.To() > nMiddle + 13);
        QCOMPARE(window.Text().mid(window.OffsetOf(nMiddle), 13), QStringLiteral("line 00300000"));
        QCOMPARE(window.PosOf(window.OffsetOf(nMiddle + 3)), nMiddle + 3);
    }
};

QTEST_MAIN(CLogModelTest)
#include "test_logmodel.moc"
