#include "logcodec.h"

#include <QSet>
#include <QTest>

class CLogCodecTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        QTest::newRow("euro") << QStringLiteral("\u20AC!") << QByteArray("\xe2\x82\xac!");
        QTest::newRow("surrogates")
            << QString::fromUtf8("\xf0\x9f\x98\x80") << QByteArray("\xf0\x9f\x98\x80");
    }
    void ForeignToText()
    {
        QFETCH(QString, strForeign);
        QFETCH(QByteArray, baBytes);
        QCOMPARE(CLogCodec::ForeignToText(strForeign), CLogCodec::BytesToText(baBytes));
    }

    void ForeignCharactersInTheWidgetSaveAsUtf8()
    {
        QByteArray ba("x");
        CLogCodec::AppendBytes(ba, u"\u4E2D\u00E9\u2400");
        QCOMPARE(ba, QByteArray("x\xe4\xb8\xad\xe9\0", 6));
    }
};

int RunLogCodecTests(int argc, char** argv)
{
    CLogCodecTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_logcodec.moc"
