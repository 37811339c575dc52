// The window as assistive technology finds it: the log read through the accessibility
// interface, and every control by its role and name.
#include "../uitest.h"
#include "aboutdlg.h"
#include "bremapp.h"
#include "bremview.h"
#include "findbar.h"
#include "mainframe.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>

#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <memory>

namespace {

// The controls under pFace as a screen reader finds them: "role|name" for each that can be
// used (focused, pressed, typed into or read as a value), however deep; bHidden for a menu not
// dropped down.
QStringList Controls(QAccessibleInterface* pFace, bool bHidden = false)
{
    static const QList<QAccessible::Role> g_listControls { QAccessible::PushButton,
        QAccessible::CheckBox, QAccessible::RadioButton, QAccessible::ComboBox,
        QAccessible::EditableText, QAccessible::ProgressBar, QAccessible::ScrollBar,
        QAccessible::SpinBox, QAccessible::Slider, QAccessible::MenuItem, QAccessible::Terminal,
        QAccessible::ButtonMenu, QAccessible::ButtonDropDown };
    QStringList list;
    if (!pFace || (pFace->state().invisible && !bHidden))
        return list;
    if (g_listControls.contains(pFace->role()) || pFace->state().focusable) {
        // A list box is named by its label, its own name being its text.
        QString strName = pFace->text(QAccessible::Name);
        for (const auto& [pLabel, eRelation] : pFace->relations(QAccessible::Label))
            strName = pLabel->text(QAccessible::Name);
        list << QString::number(pFace->role(), 16) + QLatin1Char('|') + strName;
    }
    for (int i = 0; i < pFace->childCount(); ++i)
        list << Controls(pFace->child(i), bHidden);
    return list;
}

// What the view told assistive technology: each event's type, position and text.
struct SHeard {
    QAccessible::Event m_eType;
    int m_nPos;
    QString m_strText;
};
QList<SHeard> g_listHeard;

void Hear(QAccessibleEvent* pEvent)
{
    if (pEvent->type() == QAccessible::TextInserted) {
        const auto* p = static_cast<QAccessibleTextInsertEvent*>(pEvent);
        g_listHeard << SHeard { p->type(), p->changePosition(), p->textInserted() };
    } else if (pEvent->type() == QAccessible::TextUpdated) {
        const auto* p = static_cast<QAccessibleTextUpdateEvent*>(pEvent);
        g_listHeard << SHeard { p->type(), p->changePosition(), p->textInserted() };
    } else if (pEvent->type() == QAccessible::NameChanged) {
        QAccessibleInterface* pFace = pEvent->accessibleInterface();
        g_listHeard << SHeard { pEvent->type(), 0,
            pFace ? pFace->text(QAccessible::Name) : QString() };
    } else if (pEvent->type() == QAccessible::TextCaretMoved) {
        const auto* p = static_cast<QAccessibleTextCursorEvent*>(pEvent);
        g_listHeard << SHeard { p->type(), p->cursorPosition(), QString() };
    }
}

int CountHeard(QAccessible::Event eType)
{
    return int(std::count_if(g_listHeard.begin(), g_listHeard.end(),
        [eType](const SHeard& heard) { return heard.m_eType == eType; }));
}

} // namespace

class CAccessibleTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    CRecordingPrompts m_prompts;
    std::unique_ptr<CBremApp> m_pApp;

    CMainFrame* Frame() const { return m_pApp->MainFrame(); }
    CBremView* View() const { return Frame()->GetActiveView(); }
    void Start()
    {
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(m_pApp->InitInstance({ QStringLiteral("brem") }));
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
    }
    void Feed(const QByteArray& ba)
    {
        for (char c : ba) {
            const auto nByte = static_cast<unsigned char>(c);
            Frame()->AppendRaw(&nByte, 1);
        }
    }
    void Press(int nKey, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, nKey, mods);
        QCoreApplication::sendEvent(View(), &press);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("BREM_PORTS_DIR", m_dir.path().toLocal8Bit());
        CPrompts::SetInstance(&m_prompts);
        // As a screen reader does over AT-SPI: from now on the window tells what changes.
        QAccessible::installUpdateHandler(Hear);
        QPlatformAccessibility* pAccessibility
            = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(pAccessibility);
        pAccessibility->setActive(true);
    }
    void cleanupTestCase()
    {
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
        QAccessible::installUpdateHandler(nullptr);
        CPrompts::SetInstance(nullptr);
    }
    void cleanup() { m_pApp.reset(); }

    // The log through the accessibility interface, as a screen reader gets it over AT-SPI.
    void ScreenReaderReadsTheLog()
    {
        Start();
        g_listHeard.clear();
        QAccessibleInterface* pFace = QAccessible::queryAccessibleInterface(View());
        QVERIFY(pFace && pFace->textInterface());
        QCOMPARE(pFace->role(), QAccessible::Terminal);
        QCOMPARE(pFace->text(QAccessible::Name), QStringLiteral("Device log"));
        QAccessibleTextInterface* pText = pFace->textInterface();

        // The text as the view shows it, with the caret after it, and one insert for it all.
        Feed(QByteArray("OK\r\n\x1b[0m\xff\0", 10));
        View()->FlushPending();
        const QString strFirst = QStringLiteral("OK\n<ESC>[0m<\\xFF>");
        QCOMPARE(pText->text(0, pText->characterCount()), strFirst);
        QCOMPARE(pText->cursorPosition(), strFirst.size());
        QCOMPARE(CountHeard(QAccessible::TextInserted), 1);
        QCOMPARE(g_listHeard.first().m_strText, strFirst);

        // More bytes: heard later, after what was there, whose offsets still hold.
        g_listHeard.clear();
        Feed("more");
        QCOMPARE(CountHeard(QAccessible::TextInserted), 0);
        QTRY_COMPARE_WITH_TIMEOUT(CountHeard(QAccessible::TextInserted), 1, 2000);
        QCOMPARE(g_listHeard.first().m_nPos, strFirst.size());
        QCOMPARE(g_listHeard.first().m_strText, QStringLiteral("more"));
        QCOMPARE(pText->text(0, strFirst.size()), strFirst);
        QCOMPARE(pText->cursorPosition(), pText->characterCount());

        // The screen reader moves the caret and selects.
        pText->setCursorPosition(1);
        QCOMPARE(View()->CaretPos(), 1);
        pText->setSelection(0, 3, 11);
        QCOMPARE(View()->SelectedBytes(), QByteArray("\x1b[0m"));
        int nStart = 0, nEnd = 0;
        pText->selection(0, &nStart, &nEnd);
        QCOMPARE(pText->text(nStart, nEnd), QStringLiteral("<ESC>[0m"));
        QVERIFY(pText->characterRect(3).isValid());

        // A flood for a second is told a few times, not once per byte.
        g_listHeard.clear();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1000) {
            Feed("0123456789abcdef\r");
            QCoreApplication::processEvents();
        }
        const int nTold
            = CountHeard(QAccessible::TextInserted) + CountHeard(QAccessible::TextUpdated);
        QVERIFY2(nTold >= 1 && nTold <= 6, qPrintable(QString::number(nTold)));

        // A large log: the text around the caret, never the whole log.
        QByteArray baLarge;
        for (int n = 0; baLarge.size() < 16 * 1024 * 1024; ++n)
            baLarge += "line " + QByteArray::number(n) + "\r\n";
        View()->SetLogBytes(baLarge);
        QVERIFY(pText->characterCount() <= CLogTextWindow::g_nMaxBytes);
        QVERIFY(pText->text(0, 14).startsWith(QStringLiteral("line 0\nline 1\n")));
        Press(Qt::Key_End, Qt::ControlModifier);
        QVERIFY(pText->characterCount() <= CLogTextWindow::g_nMaxBytes);
        QVERIFY(pText->text(0, pText->characterCount()).endsWith(QStringLiteral("\n")));
        QCOMPARE(pText->cursorPosition(), pText->characterCount());
    }

    // What Find came to is told to the screen reader as the bar's line changes, with no box.
    void FindSaysWhatCameOfIt()
    {
        Start();
        View()->SetLogBytes("abc");
        CFindBar* pFind = Frame()->m_pFindBar;
        pFind->Open();
        pFind->m_pText->setText(QStringLiteral("xyz"));
        g_listHeard.clear();
        pFind->FindNext();
        QTRY_VERIFY(!pFind->IsSearching());
        QVERIFY(std::any_of(g_listHeard.begin(), g_listHeard.end(), [](const SHeard& heard) {
            return heard.m_eType == QAccessible::NameChanged
                && heard.m_strText == QLatin1String("Not found");
        }));
        QAccessibleInterface* pFace = QAccessible::queryAccessibleInterface(pFind->m_pStatus);
        QCOMPARE(pFace->role(), QAccessible::StaticText);
        QVERIFY(pFind->m_pText->hasFocus());
        QVERIFY(m_prompts.m_boxes.isEmpty());
    }

    // Every control of the window and of its boxes is found by role and name, as a screen reader
    // finds them.
    void controlsByRoleAndName()
    {
        Start();
        Frame()->m_pFindBar->Open();
        QStringList controls = Controls(QAccessible::queryAccessibleInterface(Frame()));
        // The menus' items, as they are when a menu drops down.
        for (QMenu* pMenu : Frame()->menuBar()->findChildren<QMenu*>()) {
            QAccessibleInterface* pFace = QAccessible::queryAccessibleInterface(pMenu);
            for (int i = 0; i < pFace->childCount(); ++i)
                controls << Controls(pFace->child(i), true);
        }
        const auto role = [](QAccessible::Role eRole, const char* szName) {
            return QString::number(eRole, 16) + QLatin1Char('|') + QLatin1String(szName);
        };
        for (const QString& strControl :
            { role(QAccessible::Terminal, "Device log"), role(QAccessible::ComboBox, "Port"),
                role(QAccessible::ComboBox, "Baud rate"), role(QAccessible::PushButton, "Open"),
                role(QAccessible::EditableText, "Image file"),
                role(QAccessible::PushButton, "Load"), role(QAccessible::PushButton, "DOWN"),
                role(QAccessible::ProgressBar, "Download progress"),
                role(QAccessible::PushButton, "Clear"), role(QAccessible::MenuItem, "View(V)"),
                role(QAccessible::MenuItem, "Line Ends as Received(R)"),
                role(QAccessible::MenuItem, "Save with Timestamps...(T)"),
                role(QAccessible::MenuItem, "Edit(E)"), role(QAccessible::MenuItem, "Find...(F)"),
                role(QAccessible::MenuItem, "Find Next(N)"),
                role(QAccessible::MenuItem, "Find Previous(V)"),
                role(QAccessible::EditableText, "Find what"),
                role(QAccessible::CheckBox, "Hex bytes"), role(QAccessible::CheckBox, "Match case"),
                role(QAccessible::PushButton, "Find previous"),
                role(QAccessible::PushButton, "Find next"),
                role(QAccessible::PushButton, "Close find bar") })
            QVERIFY2(controls.contains(strControl), qPrintable(strControl));
        for (const QString& strControl : controls)
            QVERIFY2(!strControl.endsWith(QLatin1Char('|')), qPrintable(controls.join(", ")));

        // The boxes: About, and a box as the window shows one (answered as it comes up).
        CAboutDlg about(Frame());
        about.show();
        QVERIFY(Controls(QAccessible::queryAccessibleInterface(&about))
                    .contains(role(QAccessible::PushButton, "OK")));
        QStringList box;
        QTimer::singleShot(0, Frame(), [&box] {
            QWidget* pBox = QApplication::activeModalWidget();
            box = Controls(QAccessible::queryAccessibleInterface(pBox));
            pBox->close();
        });
        CPrompts::SetInstance(nullptr);
        CPrompts::Instance().MessageBoxWithDetail(Frame(), QStringLiteral("Brem"),
            QStringLiteral("Port Init Error"), QStringLiteral("Not there."), false);
        CPrompts::SetInstance(&m_prompts);
        QVERIFY(box.contains(role(QAccessible::PushButton, "OK")));
        QVERIFY(box.contains(role(QAccessible::StaticText, "Not there.")));
    }
};

QTEST_MAIN(CAccessibleTest)
#include "tst_accessible.moc"
