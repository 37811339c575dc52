// Find in the log's bytes: patterns, matches across block edges in both directions, slices, and
// what a search does when the log changes under it.
#include "logeditor.h"
#include "logpattern.h"
#include "logsearch.h"
#include "logstore.h"
#include "randombytes.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// One character of UTF-8 at p (strict), or 0 with *pLength 0.
char32_t DecodeOne(const QByteArray& ba, qsizetype i, int* pLength)
{
    for (int n = 1; n <= 4 && i + n <= ba.size(); ++n) {
        const QByteArray baOne = ba.mid(i, n);
        const QList<uint> chars = QString::fromUtf8(baOne).toUcs4();
        const char32_t c = chars.size() == 1 ? char32_t(chars[0]) : 0xFFFD;
        if (c != 0xFFFD && QString::fromUcs4(&c, 1).toUtf8() == baOne) {
            *pLength = n;
            return c;
        }
    }
    *pLength = 0;
    return 0;
}

// Where the text matches at i, written plainly: character by character, folded; 0 for none.
int PlainMatch(const QByteArray& baLog, qsizetype i, const QString& strText, bool bMatchCase)
{
    int n = 0;
    for (char32_t c : strText.toUcs4()) {
        int nLength = 0;
        const char32_t cLog = DecodeOne(baLog, i + n, &nLength);
        if (nLength == 0)
            return 0;
        if (bMatchCase ? cLog != c : QChar::toCaseFolded(cLog) != QChar::toCaseFolded(c))
            return 0;
        n += nLength;
    }
    return n;
}

struct SHit {
    int64_t m_nFrom = -1;
    int64_t m_nTo = -1;
    bool m_bWrapped = false;
};

// The search run to its end in slices of nSlice bytes.
SHit Search(const CLogStore& store, const CLogPattern& pattern, int64_t nFrom, bool bForward,
    int64_t nSlice)
{
    CLogSearch search(store);
    search.Start(pattern, nFrom, bForward);
    while (search.Step(nSlice) == CLogSearch::EState::Running) { }
    if (search.State() != CLogSearch::EState::Found)
        return {};
    return { search.MatchFrom(), search.MatchTo(), search.Wrapped() };
}

// The same, by looking at every start in the search's order.
SHit PlainSearch(const QByteArray& baLog, int64_t nFrom, bool bForward,
    const std::function<int(qsizetype)>& fnMatch)
{
    const int64_t nSize = baLog.size();
    for (int64_t k = 0; k < nSize; ++k) {
        const int64_t i
            = bForward ? (nFrom + k) % nSize : ((nFrom - 1 - k) % nSize + nSize) % nSize;
        const int nLength = fnMatch(qsizetype(i));
        if (nLength > 0)
            return { i, i + nLength, bForward ? i < nFrom : i >= nFrom };
    }
    return {};
}

CLogPattern Text(const QString& strText, bool bUtf8 = true, bool bMatchCase = true)
{
    CLogPattern pattern;
    QString strError;
    if (!pattern.SetText(strText, bUtf8, bMatchCase, strError))
        qWarning("%s", qPrintable(strError));
    return pattern;
}

CLogPattern Hex(const QString& strHex)
{
    CLogPattern pattern;
    QString strError;
    if (!pattern.SetHex(strHex, strError))
        qWarning("%s", qPrintable(strError));
    return pattern;
}

} // namespace

class CLogSearchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every kind of pattern against the plain search, over tiny blocks and one large one, from
    // every kind of origin, both ways, in slices of any size: matches across block edges and
    // after going round.
    void MatchesAsPlainSearch()
    {
        QRandomGenerator random(18);
        const QStringList texts { QStringLiteral("a"), QStringLiteral("OK\u4E2D"),
            QStringLiteral("sk\u00E4"), QStringLiteral("Error"), QStringLiteral("\u00DF") };
        for (int nRound = 0; nRound < 120; ++nRound) {
            CLogStore store(nRound % 2 == 0 ? 16 : 1024);
            QByteArray baLog = RandomBytes(random, random.bounded(1, 400));
            // Text worth finding, in either case, at random places.
            for (const char* sz : { "ok\xe4\xb8\xad", "SK\xc3\x84", "\xe2\x84\xaa\xc5\xbf\xc3\xa4",
                     "eRRor", "\xe1\xba\x9e" })
                baLog.insert(random.bounded(int(baLog.size())), sz);
            store.Append(baLog.constData(), baLog.size());
            const int nFrom = random.bounded(int(baLog.size()) + 1);
            const int64_t nSlice = random.bounded(1, 64);
            for (bool bForward : { true, false }) {
                for (const QString& strText : texts) {
                    for (bool bMatchCase : { true, false }) {
                        const SHit hit = Search(
                            store, Text(strText, true, bMatchCase), nFrom, bForward, nSlice);
                        const SHit plain = PlainSearch(baLog, nFrom, bForward,
                            [&](qsizetype i) { return PlainMatch(baLog, i, strText, bMatchCase); });
                        QCOMPARE(hit.m_nFrom, plain.m_nFrom);
                        QCOMPARE(hit.m_nTo, plain.m_nTo);
                        QCOMPARE(hit.m_bWrapped, plain.m_bWrapped);
                    }
                }
                // Bytes from the log itself, in hex, across the edges of its blocks.
                const int nAt = random.bounded(int(baLog.size()));
                const QByteArray baBytes = baLog.mid(nAt, random.bounded(1, 40));
                const SHit hit = Search(
                    store, Hex(QString::fromLatin1(baBytes.toHex(' '))), nFrom, bForward, nSlice);
                const SHit plain = PlainSearch(baLog, nFrom, bForward, [&](qsizetype i) {
                    return baLog.mid(i, baBytes.size()) == baBytes ? int(baBytes.size()) : 0;
                });
                QCOMPARE(hit.m_nFrom, plain.m_nFrom);
                QCOMPARE(hit.m_bWrapped, plain.m_bWrapped);
            }
        }
    }

    // What case means: the case classes of Unicode in UTF-8, of Latin-1 one byte per character.
    void CaseAndEncoding()
    {
        CLogStore store(8);
        const QByteArray baLog("status OK, 30 \xe2\x84\xaa; Stra\xe1\xba\x9e"
                               "e; caf\xc9 \xe4\xb8\xad");
        store.Append(baLog.constData(), baLog.size());
        const auto at = [&](const CLogPattern& pattern) {
            return Search(store, pattern, 0, true, 1 << 20).m_nFrom;
        };
        QCOMPARE(at(Text(QStringLiteral("ok"))), -1);
        QCOMPARE(at(Text(QStringLiteral("ok"), true, false)), baLog.indexOf("OK"));
        QCOMPARE(at(Text(QStringLiteral("30 k"), true, false)), baLog.indexOf("30 "));
        QCOMPARE(at(Text(QStringLiteral("stra\u00DF"), true, false)), baLog.indexOf("Stra"));
        // One byte per character: the bytes as Latin-1 characters.
        QCOMPARE(at(Text(QStringLiteral("CAF\u00E9"), false, false)), baLog.indexOf("caf"));
        QCOMPARE(at(Text(QStringLiteral("\u00E4\u00B8\u00AD"), false)), baLog.indexOf("\xe4"));
        QString strError;
        CLogPattern pattern;
        QVERIFY(!pattern.SetText(QStringLiteral("\u4E2D"), false, true, strError));
        QVERIFY(strError.contains(QStringLiteral("Latin-1")));
        QVERIFY(!pattern.SetText(QString(), true, true, strError));
        QVERIFY(
            !pattern.SetText(QString(CLogPattern::g_nMaxBytes + 1, u'x'), true, true, strError));
    }

    // Hex as operators write it, and what is refused.
    void HexInput_data()
    {
        QTest::addColumn<QString>("strHex");
        QTest::addColumn<QByteArray>("baBytes");
        QTest::newRow("pairs") << "0d0A" << QByteArray("\r\n");
        QTest::newRow("separated") << "0D 0A,1b:5B-6d" << QByteArray("\r\n\x1b[m");
        QTest::newRow("prefixed") << "0x0D 0X0a \\x00\\xFF" << QByteArray("\r\n\0\xff", 4);
        QTest::newRow("lone digits") << " D A " << QByteArray("\r\n");
        QTest::newRow("not hex") << "0G" << QByteArray();
        QTest::newRow("odd") << "ABC" << QByteArray();
        QTest::newRow("nothing") << " , " << QByteArray();
    }
    void HexInput()
    {
        QFETCH(QString, strHex);
        QFETCH(QByteArray, baBytes);
        CLogPattern pattern;
        QString strError;
        QCOMPARE(pattern.SetHex(strHex, strError), !baBytes.isEmpty());
        QCOMPARE(strError.isEmpty(), !baBytes.isEmpty());
        if (baBytes.isEmpty())
            return;
        QCOMPARE(pattern.MaxLength(), baBytes.size());
        const auto* p = reinterpret_cast<const unsigned char*>(baBytes.constData());
        QCOMPARE(pattern.MatchAt(p, baBytes.size()), baBytes.size());
    }

    // A match inside a multi-byte character is found where it is, however the blocks cut the
    // character.
    void InsideMultiByteCharacters()
    {
        for (int nPrefix = 0; nPrefix < 8; ++nPrefix) {
            CLogStore store(8);
            const QByteArray baLog = QByteArray(nPrefix, 'x') + "\xe4\xb8\xad\xf0\x9f\x98\x80";
            store.Append(baLog.constData(), baLog.size());
            QCOMPARE(Search(store, Hex(QStringLiteral("B8 AD")), 0, true, 3).m_nFrom, nPrefix + 1);
            QCOMPARE(Search(store, Hex(QStringLiteral("9F 98")), store.Size(), false, 3).m_nFrom,
                nPrefix + 4);
            const SHit hit = Search(store, Text(QStringLiteral("\u4E2D\U0001F600")), 0, true, 5);
            QCOMPARE(hit.m_nFrom, nPrefix);
            QCOMPARE(hit.m_nTo, nPrefix + 7);
        }
    }

    // The same bytes from the device are kept otherwise in each line-end mode, and Find finds
    // what the log keeps.
    void LineEndModes()
    {
        for (ELineEnds eEnds : { ELineEnds::CrLf, ELineEnds::AsReceived }) {
            CLogStore store(8);
            store.SetLineEnds(eEnds);
            CLogEditor editor(store);
            const QByteArray baReceived("ab\rcd\nef\0g", 10);
            editor.AppendRaw(reinterpret_cast<const unsigned char*>(baReceived.constData()),
                uint32_t(baReceived.size()));
            const bool bCrLf = eEnds == ELineEnds::CrLf;
            const auto at = [&](const CLogPattern& pattern, bool bForward) {
                return Search(store, pattern, bForward ? 0 : store.Size(), bForward, 2).m_nFrom;
            };
            for (bool bForward : { true, false }) {
                QCOMPARE(at(Hex(QStringLiteral("0D 0A")), bForward), bCrLf ? 2 : -1);
                QCOMPARE(at(Hex(QStringLiteral("0A")), bForward), bCrLf ? 3 : 5);
                QCOMPARE(at(Text(QStringLiteral("cdef")), bForward), bCrLf ? 4 : -1);
                QCOMPARE(at(Hex(QStringLiteral("66 00 67")), bForward), bCrLf ? -1 : 7);
            }
        }
    }

    // Nothing there, a log shorter than the pattern, an empty log.
    void NoneFound()
    {
        CLogStore store(8);
        const CLogPattern pattern = Text(QStringLiteral("needle"), true, false);
        QCOMPARE(Search(store, pattern, 0, true, 4).m_nFrom, -1);
        store.Append("needl", 5);
        QCOMPARE(Search(store, pattern, 0, false, 4).m_nFrom, -1);
        const QByteArray baHay(5000, 'n');
        store.Append(baHay.constData(), baHay.size());
        CLogSearch search(store);
        search.Start(pattern, 100, true);
        int nSteps = 0;
        while (search.Step(512) == CLogSearch::EState::Running)
            QVERIFY(search.Done() < 1 && ++nSteps < 100);
        QCOMPARE(search.State(), CLogSearch::EState::NotFound);
        QVERIFY(nSteps >= 8); // in slices, not all at once
    }

    // Bytes arriving during a search are not looked at and change nothing found; an edit or
    // Clear ends the search.
    void LogChangesDuringSearch()
    {
        CLogStore store(8);
        const QByteArray baLog = QByteArray(1000, '.') + "mark";
        store.Append(baLog.constData(), baLog.size());
        CLogSearch search(store);
        search.Start(Text(QStringLiteral("mark")), 0, true);
        QCOMPARE(search.Step(100), CLogSearch::EState::Running);
        store.Append("mark", 4);
        while (search.Step(100) == CLogSearch::EState::Running) { }
        QCOMPARE(search.MatchFrom(), 1000);
        search.Start(Text(QStringLiteral("zz")), 0, false);
        store.Append("zz", 2);
        while (search.Step(100) == CLogSearch::EState::Running) { }
        QCOMPARE(search.State(), CLogSearch::EState::NotFound);

        search.Start(Text(QStringLiteral("mark")), 0, true);
        QCOMPARE(search.Step(100), CLogSearch::EState::Running);
        store.Replace(10, 11, "x", 1);
        QCOMPARE(search.Step(100), CLogSearch::EState::Changed);
        search.Start(Text(QStringLiteral("mark")), 0, true);
        store.Clear();
        QCOMPARE(search.Step(100), CLogSearch::EState::Changed);
    }
};

QTEST_GUILESS_MAIN(CLogSearchTest)
#include "test_logsearch.moc"
