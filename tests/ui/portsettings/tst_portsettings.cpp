// The port as the operator sets it in the window: rates listed and typed, the settings dialog,
// Enter's bytes, and the line controls with their states in the status bar.
#include "../uitest.h"
#include "bremapp.h"
#include "bremview.h"
#include "controlbar.h"
#include "linestates.h"
#include "mainframe.h"
#include "statusbar.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>
#include <mutex>

namespace {

// Modem lines and breaks do not exist on a pty: the port's line calls are recorded here.
std::mutex g_mxCalls;
std::vector<std::pair<uint32_t, std::chrono::steady_clock::time_point>> g_calls;
uint32_t g_dwModem = 0;

bool RecordEscape(uint32_t dwFunc)
{
    std::lock_guard<std::mutex> lock(g_mxCalls);
    g_calls.emplace_back(dwFunc, std::chrono::steady_clock::now());
    return true;
}

bool ReportModem(uint32_t& dwStatus)
{
    dwStatus = g_dwModem;
    return true;
}

const CCommPort::SLineHooks g_hooks = { RecordEscape, ReportModem };

std::vector<uint32_t> Calls()
{
    std::lock_guard<std::mutex> lock(g_mxCalls);
    std::vector<uint32_t> calls;
    for (const auto& call : g_calls)
        calls.push_back(call.first);
    return calls;
}

uint32_t Rate(const CTestPty& pty)
{
    return pty.LineState().nBaud;
}

} // namespace

class CPortSettingsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    CRecordingPrompts m_prompts;
    std::unique_ptr<CBremApp> m_pApp;

    CMainFrame* Frame() const { return m_pApp->MainFrame(); }
    CControlBar* Bar() const { return Frame()->m_pDlgBar; }
    QString Path(const char* szName) const { return m_dir.filePath(QLatin1String(szName)); }

    void Start()
    {
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(m_pApp->InitInstance({ QStringLiteral("brem") }));
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
        Bar()->m_pComPort->setCurrentIndex(Bar()->m_pComPort->findText(QStringLiteral("COM3")));
    }
    // Opens COM3 with the rate list's item strRate, or strRate typed over the list.
    void Open(const QString& strRate, bool bTyped = false)
    {
        QComboBox* pBaud = Bar()->m_pBaudRate;
        if (bTyped)
            pBaud->setEditText(strRate);
        else
            pBaud->setCurrentIndex(pBaud->findText(strRate));
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
    }
    void Close()
    {
        if (Frame()->m_bPortOpen)
            QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
        QCOMPARE(g_bPortOpened, 0);
    }
    QAction* Action(const char* szText) const
    {
        for (QAction* pAction : Frame()->findChildren<QAction*>())
            if (pAction->text() == QLatin1String(szText))
                return pAction;
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", Path("config").toLocal8Bit());
        qputenv("BREM_PORTS_DIR", m_dir.path().toLocal8Bit());
        CPrompts::SetInstance(&m_prompts);
    }
    void cleanupTestCase() { CPrompts::SetInstance(nullptr); }
    void init()
    {
        m_prompts = CRecordingPrompts();
        g_calls.clear();
        g_dwModem = 0;
    }
    void cleanup()
    {
        m_pApp.reset();
        CCommPort::SetLineHooks(nullptr);
        QCOMPARE(g_bPortOpened, 0);
    }

    // Every rate of the list, and rates no list holds, as the line takes them.
    void ratesListedAndTyped()
    {
        CTestPty pty(Path("COM3").toStdString());
        Start();
        QCOMPARE(Items(Bar()->m_pBaudRate),
            QStringList({ "", "1000000", "115200", "1500000", "19200", "2000000", "230400",
                "3000000", "38400", "460800", "57600", "921600", "9600" }));
        QCOMPARE(Bar()->m_pBaudRate->currentText(), QStringLiteral("115200"));
        for (int i = 1; i < Bar()->m_pBaudRate->count(); ++i) {
            const QString strRate = Bar()->m_pBaudRate->itemText(i);
            Open(strRate);
            QCOMPARE(Bar()->m_pOpenClose->text(), QStringLiteral("Close"));
            QCOMPARE(Rate(pty), strRate.toUInt());
            Close();
        }
        for (const char* szTyped : { "250000", "74880", " 31250 " }) {
            Open(QLatin1String(szTyped), true);
            QCOMPARE(Rate(pty), QString::fromLatin1(szTyped).trimmed().toUInt());
            Close();
        }
        QVERIFY(m_prompts.m_boxes.isEmpty());
    }

    // A rate the line cannot run at: its box, a box that says why, and the port closed again.
    void refusedRateLeavesThePortClosed()
    {
        CTestPty pty(Path("COM3").toStdString());
        Start();
        Open(QString()); // the empty item: rate 0, which no line runs at
        QCOMPARE(m_prompts.m_boxes.size(), 2);
        QVERIFY(m_prompts.m_boxes[0].startsWith(
            QStringLiteral("Application Error|WARNING:  SetCommState() Failed")));
        QCOMPARE(m_prompts.m_boxes[1], QStringLiteral("Brem|Port Init Error"));
        QVERIFY(m_prompts.m_details[0].contains(QStringLiteral("COM3 cannot run at 0 baud 8N1")));
        QCOMPARE(Bar()->m_pOpenClose->text(), QStringLiteral("Open"));
        QVERIFY(!Frame()->m_Port.PortOpen());
        QVERIFY(DeviceFree(pty));
        // Typed text that is no rate counts as no rate, as it always did.
        m_prompts = CRecordingPrompts();
        Open(QStringLiteral("fast"), true);
        QCOMPARE(m_prompts.m_boxes.size(), 2);
        QCOMPARE(g_bPortOpened, 0);
    }

    // The dialog's choices reach the next Open, and an open port at once (but not its levels).
    void settingsReachTheLine()
    {
        CTestPty pty(Path("COM3").toStdString());
        Start();
        SPortSettings settings;
        CPortSettingsDlg dlg(settings, false);
        dlg.m_pDataBits->setCurrentIndex(2);
        dlg.m_pParity->setCurrentIndex(2);
        dlg.m_pStopBits->setCurrentIndex(1);
        dlg.m_pFlow->setCurrentIndex(1);
        dlg.m_pRts->setChecked(false);
        dlg.m_pEnter->setCurrentIndex(2);
        settings = dlg.Settings();
        QCOMPARE(settings.Summary(), QStringLiteral("7E2 RTS/CTS"));
        QCOMPARE(settings.control.nDtr, 1);
        QVERIFY(!settings.control.bRts);
        QCOMPARE(settings.EnterBytes(), QByteArray("\r\n"));
        // What the dialog shows is what it was given.
        CPortSettingsDlg again(settings, true);
        QCOMPARE(again.Settings().Summary(), settings.Summary());
        QCOMPARE(again.Settings().eEnter, SPortSettings::ENTER_CRLF);

        Frame()->ApplyPortSettings(settings);
        Open(QStringLiteral("921600"));
        SLineState state = pty.LineState();
        QVERIFY(state.bTwoStopBits);
        QVERIFY(state.bHardwareFlow);
        QCOMPARE(Frame()->m_Port.LineSettings().ByteSize, uint8_t(7));
        QCOMPARE(Frame()->m_Port.LineSettings().Parity, EVENPARITY);

        settings.nStopBits = 1;
        settings.control.eFlow = SLineControl::FLOW_XONXOFF;
        Frame()->ApplyPortSettings(settings);
        state = pty.LineState();
        QVERIFY(!state.bTwoStopBits);
        QVERIFY(!state.bHardwareFlow);
        QVERIFY(state.bSoftwareFlow);
        QCOMPARE(state.nBaud, 921600u);
        QVERIFY(m_prompts.m_boxes.isEmpty());
        QCOMPARE(Frame()->PortSettings().Summary(), QStringLiteral("7E1 XON/XOFF"));

        // Framing no driver takes: its box, and the line and the choice as they were.
        settings.nDataBits = 5;
        settings.nStopBits = 2;
        settings.cParity = 'X';
        Frame()->ApplyPortSettings(settings);
        QCOMPARE(m_prompts.m_boxes.size(), 1);
        QVERIFY(m_prompts.m_boxes[0].contains(QStringLiteral("SetCommState()")));
        QCOMPARE(Frame()->PortSettings().Summary(), QStringLiteral("7E1 XON/XOFF"));
        QVERIFY(pty.LineState().bSoftwareFlow);
        Close();
    }

    void enterSendsTheBytesChosen_data()
    {
        QTest::addColumn<int>("enter");
        QTest::addColumn<bool>("asReceived");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("CR") << int(SPortSettings::ENTER_CR) << false << QByteArray("\r")
                            << QByteArray("a\r\n");
        QTest::newRow("LF") << int(SPortSettings::ENTER_LF) << false << QByteArray("\n")
                            << QByteArray("a\r\n");
        QTest::newRow("CR LF") << int(SPortSettings::ENTER_CRLF) << false << QByteArray("\r\n")
                               << QByteArray("a\r\n");
        QTest::newRow("LF as received")
            << int(SPortSettings::ENTER_LF) << true << QByteArray("\n") << QByteArray("a\n");
        QTest::newRow("CR LF as received")
            << int(SPortSettings::ENTER_CRLF) << true << QByteArray("\r\n") << QByteArray("a\r\n");
    }
    void enterSendsTheBytesChosen()
    {
        QFETCH(int, enter);
        QFETCH(bool, asReceived);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, log);
        CTestPty pty(Path("COM3").toStdString());
        Start();
        SPortSettings settings;
        settings.eEnter = static_cast<SPortSettings::Enter>(enter);
        Frame()->ApplyPortSettings(settings);
        CBremView* pView = Frame()->GetActiveView();
        pView->SetLineEnds(asReceived ? ELineEnds::AsReceived : ELineEnds::CrLf);
        Open(QStringLiteral("115200"));
        QTest::keyClick(pView, Qt::Key_A);
        QTest::keyClick(pView, Qt::Key_Return);
        Bytes expected { 'a' };
        expected.insert(expected.end(), sent.begin(), sent.end());
        QVERIFY(Receive(pty, expected.size()) == expected);
        QCOMPARE(pView->LogBytes(), log);
        Close();
    }

    // Toggles and breaks reach the port in order, send no byte, and the status bar follows the
    // lines while the port is open.
    void lineControlsAndTheirStates()
    {
        CCommPort::SetLineHooks(&g_hooks);
        CTestPty pty(Path("COM3").toStdString());
        Start();
        CLineStates* pStates = Frame()->findChild<CLineStates*>();
        QVERIFY(pStates);
        QVERIFY(!pStates->isVisible());
        QTest::keyClick(Frame()->GetActiveView(), Qt::Key_F7);
        QCOMPARE(m_prompts.m_boxes, QStringList(QStringLiteral("Brem|COM Not Open")));
        m_prompts = CRecordingPrompts();

        g_dwModem = MS_CTS_ON | MS_RLSD_ON;
        Open(QStringLiteral("115200"));
        QVERIFY(pStates->isVisible());
        const auto on = [&](int nLine) { return pStates->m_apLines[nLine]->isEnabled(); };
        // DTR as the port had it (a pty has none: off), RTS held on as always.
        QVERIFY(!on(CLineStates::DTR) && on(CLineStates::RTS));
        QVERIFY(on(CLineStates::CTS) && !on(CLineStates::DSR) && on(CLineStates::DCD)
            && !on(CLineStates::RI));
        QCOMPARE(pStates->m_apLines[CLineStates::CTS]->accessibleName(), QStringLiteral("CTS on"));

        CBremView* pView = Frame()->GetActiveView();
        QTest::keyClick(pView, Qt::Key_F7);
        QVERIFY(on(CLineStates::DTR));
        QTest::keyClick(pView, Qt::Key_F8);
        QVERIFY(!on(CLineStates::RTS));
        QTest::keyClick(pView, Qt::Key_F7);
        QVERIFY(!on(CLineStates::DTR));
        // The device drops CTS and rings: shown without a key pressed.
        g_dwModem = MS_RING_ON;
        QTRY_VERIFY(!on(CLineStates::CTS) && on(CLineStates::RI));

        QTest::keyClick(pView, Qt::Key_F9);
        QTest::keyClick(pView, Qt::Key_F9); // no second break while one is on
        QTRY_COMPARE(Calls().size(), size_t(5));
        QVERIFY(Calls() == (std::vector<uint32_t> { SETDTR, CLRRTS, CLRDTR, SETBREAK, CLRBREAK }));
        {
            std::lock_guard<std::mutex> lock(g_mxCalls);
            QVERIFY(g_calls[4].second - g_calls[3].second >= std::chrono::milliseconds(250));
        }
        QVERIFY(Action("Send Break of Length...(&L)"));
        QCOMPARE(Action("Toggle DTR(&D)")->shortcut(), QKeySequence(Qt::Key_F7));

        // None of it went to the device as a byte: the marker typed last comes out first.
        QTest::keyClick(pView, Qt::Key_Z);
        QVERIFY(Receive(pty, 1) == Bytes({ 'z' }));
        QVERIFY(m_prompts.m_boxes.isEmpty());
        Close();
        QVERIFY(!pStates->isVisible());
    }
};

QTEST_MAIN(CPortSettingsTest)
#include "tst_portsettings.moc"
