// Find in the window: its keys beside the terminal's, what a search selects and shows, and a long
// search that leaves the window, the port and Clear working.
#include "../windowfixture.h"
#include "findbar.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

class CFindTest : public CWindowFixture {
    Q_OBJECT

private:
    CFindBar* Bar() const { return Frame()->m_pFindBar; }
    QString Said() const { return Bar()->m_pStatus->text(); }
    // Types into the bar and presses Enter (Shift+Enter backward); waits for the end.
    void Find(const QString& strText, bool bForward = true)
    {
        Bar()->m_pText->setText(strText);
        QTest::keyClick(
            Bar()->m_pText, Qt::Key_Return, bForward ? Qt::NoModifier : Qt::ShiftModifier);
        QTRY_VERIFY(!Bar()->IsSearching());
    }
    QByteArray Selected() const { return View()->SelectedBytes(); }

private Q_SLOTS:
    void initTestCase() { Prepare(); }
    void cleanupTestCase() { Finish(); }
    void init() { m_prompts = CRecordingPrompts(); }
    void cleanup() { m_pApp.reset(); }

    // F3 and Shift+F3 open and search and send nothing; Ctrl+F stays the byte 0x06 for the
    // device; what is typed into the bar goes nowhere else; Esc gives the keyboard back to the log.
    void keysBesideTheTerminal()
    {
        CTestPty pty(Path("COM3").toStdString());
        Start(QStringLiteral("COM3"));
        View()->SetLogBytes("one two one");
        View()->setFocus();
        QVERIFY(Bar()->isHidden());
        QTest::keyClick(View(), Qt::Key_F3);
        QVERIFY(Bar()->isVisible() && Bar()->m_pText->hasFocus());
        QTest::keyClicks(Bar()->m_pText, QStringLiteral("one"));
        QTest::keyClick(Bar()->m_pText, Qt::Key_F3);
        QTRY_COMPARE(Selected(), QByteArray("one"));
        QCOMPARE(View()->AnchorPos(), 0);
        QTest::keyClick(Bar()->m_pText, Qt::Key_F3);
        QTRY_COMPARE(View()->AnchorPos(), 8);
        QTest::keyClick(Bar()->m_pText, Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(View()->AnchorPos(), 0);
        QTest::keyClick(Bar()->m_pText, Qt::Key_Escape);
        QVERIFY(Bar()->isHidden() && View()->hasFocus());
        QTest::keyClick(View(), Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(View()->AnchorPos(), 8);
        View()->setFocus();
        QTest::keyClick(View(), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClick(View(), Qt::Key_Z);
        QVERIFY(Receive(pty, 2) == Bytes({ 0x06, 'z' }));
        QVERIFY(pty.Receive(1, 50).empty());

        // The menu's item opens the bar and selects what is in it for typing over.
        for (QAction* pAction : Frame()->findChildren<QAction*>())
            if (pAction->text() == QLatin1String("Find...(&F)"))
                pAction->trigger();
        QVERIFY(Bar()->m_pText->hasFocus());
        QCOMPARE(Bar()->m_pText->selectedText(), QStringLiteral("one"));
        QVERIFY(m_prompts.m_boxes.isEmpty());
    }

    // The match is selected and shown, however far up it is; in hex exactly, in text as the
    // whole characters it touches; going round the end says so.
    void matchSelectedAndShown()
    {
        Start();
        QByteArray baLog = "\xe4\xb8\xad first ERROR\r\n";
        for (int n = 0; n < 5000; ++n)
            baLog += "line " + QByteArray::number(n) + "\r\n";
        View()->SetLogBytes(baLog);
        QTest::keyClick(View(), Qt::Key_End, Qt::ControlModifier);
        Bar()->Open();

        Find(QStringLiteral("error"), false);
        QCOMPARE(Selected(), QByteArray("ERROR"));
        QVERIFY(View()->IsCaretVisible());
        QCOMPARE(Said(), QStringLiteral("Line 1"));
        Find(QStringLiteral("line 4999"));
        QCOMPARE(View()->AnchorPos(), baLog.indexOf("line 4999"));
        QVERIFY(View()->IsCaretVisible());
        Find(QStringLiteral("line 5000"));
        QCOMPARE(Said(), QStringLiteral("Not found"));
        Find(QStringLiteral("first"));
        QCOMPARE(Said(), QStringLiteral("Line 1, from the top"));

        Bar()->m_pHex->setChecked(true);
        Find(QStringLiteral("B8 AD 20"), false);
        QCOMPARE(Selected(), QByteArray("\xe4\xb8\xad "));
        View()->SetHex(true);
        Find(QStringLiteral("B8 AD 20"), false);
        QCOMPARE(Selected(), QByteArray("\xb8\xad "));
        QVERIFY(View()->IsCaretVisible());
    }

    // "Not found" and a mistake in the hex are said in the bar: no box, and the keyboard stays
    // where the operator types.
    void notFoundKeepsTheKeyboard()
    {
        Start();
        View()->SetLogBytes("abc");
        Bar()->Open();
        Find(QStringLiteral("xyz"));
        QCOMPARE(Said(), QStringLiteral("Not found"));
        Bar()->m_pHex->setChecked(true);
        Find(QStringLiteral("0G"));
        QVERIFY(Said().contains(QStringLiteral("not a hex digit")));
        QVERIFY(Bar()->m_pText->hasFocus());
        QTest::keyClicks(Bar()->m_pText, QStringLiteral("1"));
        QCOMPARE(Bar()->m_pText->text(), QStringLiteral("0G1"));
        QCOMPARE(View()->SelectedBytes(), QByteArray());
        QVERIFY(m_prompts.m_boxes.isEmpty());
    }

    // A search that takes long shows its progress and can be stopped; while it runs the device's
    // flood is all kept, and Clear ends it.
    void longSearchLeavesTheWindowLive()
    {
        CTestPty pty(Path("COM3").toStdString());
        Start(QStringLiteral("COM3"));
        Settle(pty);
        // Every start is a near miss, checked at length: many seconds for any machine.
        const QByteArray baLog(8 << 20, 's');
        View()->SetLogBytes(baLog);
        Bar()->Open();
        Bar()->m_pText->setText(QString(200, u's') + QLatin1Char('q'));
        QTest::keyClick(Bar()->m_pText, Qt::Key_Return);
        QVERIFY(Bar()->IsSearching());
        QVERIFY(Bar()->m_pProgress->isHidden());
        QTRY_VERIFY(Bar()->m_pProgress->isVisible() && Bar()->m_pStop->isVisible());

        const Bytes flood(1 << 20, 'x');
        size_t nSent = 0;
        while (nSent < flood.size()) {
            const ssize_t n = ::write(pty.Master(), flood.data() + nSent, flood.size() - nSent);
            nSent += n > 0 ? size_t(n) : 0;
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(View()->Store().Size(), int64_t(baLog.size() + flood.size()));
        QVERIFY(Bar()->m_pProgress->value() > 0);
        QTest::keyClick(Bar()->m_pText, Qt::Key_Escape);
        QVERIFY(!Bar()->IsSearching());
        QCOMPARE(Said(), QStringLiteral("Stopped"));
        QVERIFY(Bar()->isVisible() && Bar()->m_pProgress->isHidden());

        QTest::mouseClick(Bar()->m_pNext, Qt::LeftButton);
        QVERIFY(Bar()->IsSearching());
        QTest::mouseClick(Frame()->m_pDlgBar->m_pClear, Qt::LeftButton);
        QTRY_VERIFY(!Bar()->IsSearching());
        QCOMPARE(Said(), QStringLiteral("Stopped: the log changed"));
        QCOMPARE(View()->Store().Size(), 0);
        QVERIFY(m_prompts.m_boxes.isEmpty());
    }
};

QTEST_MAIN(CFindTest)
#include "tst_find.moc"
