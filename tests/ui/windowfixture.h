#pragma once
// The whole window for a test, as start-up makes it: a private folder for settings and ports,
// boxes and file dialogs answered by the test, and the port opened as the operator opens it.
#include "bremapp.h"
#include "bremview.h"
#include "controlbar.h"
#include "mainframe.h"
#include "uitest.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

class CWindowFixture : public QObject {
protected:
    QTemporaryDir m_dir;
    CRecordingPrompts m_prompts;
    std::unique_ptr<CBremApp> m_pApp;

    CMainFrame* Frame() const { return m_pApp->MainFrame(); }
    CBremView* View() const { return Frame()->GetActiveView(); }
    QString Path(const char* szName) const { return m_dir.filePath(QLatin1String(szName)); }

    // For initTestCase and cleanupTestCase.
    void Prepare()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", Path("config").toLocal8Bit());
        qputenv("BREM_PORTS_DIR", m_dir.path().toLocal8Bit());
        CPrompts::SetInstance(&m_prompts);
    }
    void Finish() { CPrompts::SetInstance(nullptr); }

    // Starts the window and, given one, opens the port by its Open button.
    void Start(const QString& strPort = QString())
    {
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(m_pApp->InitInstance({ QStringLiteral("brem") }));
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
        if (strPort.isEmpty())
            return;
        CControlBar* pBar = Frame()->m_pDlgBar;
        pBar->m_pComPort->setCurrentIndex(pBar->m_pComPort->findText(strPort));
        QTest::mouseClick(pBar->m_pOpenClose, Qt::LeftButton);
        QCOMPARE(Frame()->m_bPortOpen, 1);
    }

    // The port purges what is queued when its monitor thread starts, which may be after the
    // device end has begun to send: a byte from the window, once the device has it, says that
    // everything sent from now on will arrive.
    void Settle(CTestPty& pty)
    {
        const unsigned char nByte = '~';
        Frame()->WriteToPort(&nByte, 1);
        QVERIFY(Receive(pty, 1) == Bytes { '~' });
    }

    // Runs the event loop at full speed (QTRY_ sleeps between looks, which starves a flood)
    // until fn holds or nMs have passed.
    template <class F> static bool RunUntil(F fn, int nMs)
    {
        QEventLoop loop;
        QTimer check;
        check.setInterval(5);
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (fn())
                loop.quit();
        });
        QTimer::singleShot(nMs, &loop, &QEventLoop::quit);
        check.start();
        if (!fn())
            loop.exec();
        return fn();
    }
};
