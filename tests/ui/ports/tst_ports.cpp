// The window's port list over a fake device tree: named devices after the COM items, hot-plug,
// the reasons beside "Port Init Error", and a device that comes back after an unplug.
#include "../uitest.h"
#include "bremapp.h"
#include "bremview.h"
#include "controlbar.h"
#include "downloadengine.h"
#include "faketree.h"
#include "mainframe.h"
#include "statusbar.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QString Q(const std::string& str)
{
    return QString::fromStdString(str);
}

const QString g_strFtdi = QStringLiteral("ttyUSB0 — FT232R USB UART (A50285BI)");

} // namespace

class CPortsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    CRecordingPrompts m_prompts;
    std::unique_ptr<CFakeTree> m_pTree;
    std::unique_ptr<CBremApp> m_pApp;

    CMainFrame* Frame() const { return m_pApp->MainFrame(); }
    QComboBox* Ports() const { return Frame()->m_pDlgBar->m_pComPort; }
    QPushButton* OpenClose() const { return Frame()->m_pDlgBar->m_pOpenClose; }
    QString Note() const { return Frame()->m_pStatusBar->m_pPortNote->text(); }
    QString Log() const { return QString::fromLatin1(Frame()->GetActiveView()->LogBytes()); }
    QStringList DeviceItems() const { return Items(Ports(), 21); }
    void Start()
    {
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(m_pApp->InitInstance({ QStringLiteral("brem") }));
        Frame()->SetPortRoots(m_pTree->Roots());
    }
    void Pick(const QString& strItem, const QString& strBaud = QStringLiteral("115200"))
    {
        Ports()->setCurrentIndex(Ports()->findText(strItem));
        QCOMPARE(Ports()->currentText(), strItem);
        auto* pBaud = Frame()->m_pDlgBar->m_pBaudRate;
        pBaud->setCurrentIndex(pBaud->findText(strBaud));
    }
    static CFakeTree::SUsb FtdiOn(const CTestPty& pty)
    {
        CFakeTree::SUsb usb = FtdiAdapter();
        usb.strNodeTarget = pty.SlavePath();
        return usb;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
        CPrompts::SetInstance(&m_prompts);
    }
    void cleanupTestCase() { CPrompts::SetInstance(nullptr); }
    void init()
    {
        m_prompts = CRecordingPrompts();
        m_pTree = std::make_unique<CFakeTree>();
    }
    void cleanup()
    {
        m_pApp.reset();
        m_pTree.reset();
    }

    void listFollowsPlugAndUnplug()
    {
        AddBench(*m_pTree);
        m_pTree->LinkCom(3, m_pTree->ById(FtdiAdapter().strById));
        Start();
        QCOMPARE(Items(Ports(), 0, 21), ComItems());
        QCOMPARE(Ports()->currentText(), QStringLiteral("COM1"));
        QCOMPARE(DeviceItems(),
            QStringList({ "ttyACM0 — Arduino Uno (75830333238351F0D1A1)",
                "ttyS0 — built-in serial port", g_strFtdi + " = COM3" }));

        const QString strArduino = QStringLiteral("ttyACM0 — Arduino Uno (75830333238351F0D1A1)");
        Pick(strArduino);
        m_pTree->AddUsb({ "ttyUSB1", "1-6", "10c4", "ea60", "Silicon Labs",
            "CP2102 USB to UART Bridge Controller", "0001",
            "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0" });
        QTRY_COMPARE_WITH_TIMEOUT(DeviceItems().size(), 4, 5000);
        QCOMPARE(DeviceItems().last(),
            QStringLiteral("ttyUSB1 — CP2102 USB to UART Bridge Controller (0001)"));
        QCOMPARE(Ports()->currentText(), strArduino);
        m_pTree->Remove("ttyUSB1");
        QTRY_COMPARE_WITH_TIMEOUT(DeviceItems().size(), 3, 5000);

        // The selected device stays, marked, while it is gone; Open then says why it fails.
        m_pTree->Remove("ttyACM0", ArduinoUno().strById);
        QTRY_COMPARE_WITH_TIMEOUT(
            Ports()->currentText(), strArduino + QStringLiteral(" (unplugged)"), 5000);
        QTest::mouseClick(OpenClose(), Qt::LeftButton);
        QCOMPARE(m_prompts.m_boxes, QStringList(QStringLiteral("Brem|Port Init Error")));
        QCOMPARE(m_prompts.m_details,
            QStringList(Q(m_pTree->Dev("ttyACM0"))
                + " is not there\nIt is unplugged, or has another name now\nPresent now:\n  "
                  "ttyS0 — built-in serial port\n  "
                + g_strFtdi));
        QCOMPARE(OpenClose()->text(), QStringLiteral("Open"));
        Pick(QStringLiteral("COM2"));
        QTRY_COMPARE_WITH_TIMEOUT(DeviceItems().size(), 2, 5000);
    }

    void unpluggedDeviceReopensByItself_data()
    {
        QTest::addColumn<bool>("typed");
        QTest::newRow("picked from the list") << false;
        QTest::newRow("path typed into the list") << true;
    }
    void unpluggedDeviceReopensByItself()
    {
        QFETCH(bool, typed);
        auto pPty = std::make_unique<CTestPty>();
        m_pTree->AddUsb(FtdiOn(*pPty));
        m_pTree->LinkCom(3, m_pTree->ById(FtdiAdapter().strById));
        Start();
        Pick(g_strFtdi + " = COM3", QStringLiteral("9600"));
        if (typed)
            Ports()->setEditText(Q(m_pTree->ById(FtdiAdapter().strById)));
        QTest::mouseClick(OpenClose(), Qt::LeftButton);
        QCOMPARE(OpenClose()->text(), QStringLiteral("Close"));
        QCOMPARE(Speed(*pPty), static_cast<speed_t>(B9600));

        // Typed before: the old port has counted more writes than the new one will have.
        QTest::keyClicks(Frame()->GetActiveView(), QStringLiteral("hello"));
        QVERIFY(Receive(*pPty, 5) == Bytes({ 'h', 'e', 'l', 'l', 'o' }));
        // A download under way when the cable comes out.
        m_prompts.m_strOpen = m_dir.filePath(QStringLiteral("image.bin"));
        QVERIFY(WriteFile(m_prompts.m_strOpen, QByteArray(5000, 'i')));
        QTest::mouseClick(Frame()->m_pDlgBar->m_pLoad, Qt::LeftButton);
        QTest::mouseClick(Frame()->m_pDlgBar->m_pDown, Qt::LeftButton);
        // The poll timer runs on this thread's event loop.
        QVERIFY(Receive(*pPty, 1) == Bytes({ 'P' }));

        m_pTree->Remove("ttyUSB0", FtdiAdapter().strById);
        pPty->CloseMaster();
        QTRY_VERIFY_WITH_TIMEOUT(Note().contains(QStringLiteral("unplugged")), 5000);
        QVERIFY(Note().contains(QStringLiteral("download stopped")));
        QTRY_COMPARE_WITH_TIMEOUT(m_prompts.m_boxes.size(), 1, 5000);
        QCOMPARE(m_prompts.m_boxes[0],
            QStringLiteral("Application Error|WARNING:  ReadFile() Failed with the following "
                           "error: \nInput/output error\nPort: 3\n"));
        QCOMPARE(OpenClose()->text(), QStringLiteral("Close"));
        if (!typed)
            QTRY_COMPARE_WITH_TIMEOUT(
                Ports()->currentText(), g_strFtdi + " = COM3 (unplugged)", 5000);

        // Back under another pty, by the same stable name: no click needed.
        pPty = std::make_unique<CTestPty>();
        m_pTree->AddUsb(FtdiOn(*pPty));
        QTRY_COMPARE_WITH_TIMEOUT(Note(), g_strFtdi + " is back: reopened at 9600 baud", 5000);
        QCOMPARE(Speed(*pPty), static_cast<speed_t>(B9600));
        if (!typed)
            QCOMPARE(Ports()->currentText(), g_strFtdi + " = COM3");
        // Typing reaches the new device (which also puts the monitor thread's purge at start
        // behind us); the old download does not go on: a poll answer is plain text now.
        QTest::keyClicks(Frame()->GetActiveView(), QStringLiteral("at"));
        QVERIFY(Receive(*pPty, 2) == Bytes({ 'a', 't' }));
        QVERIFY(pPty->Send({ 'P', 'o', 'k' }));
        QTRY_VERIFY_WITH_TIMEOUT(Log().endsWith(QStringLiteral("Pok")), 5000);
        QCOMPARE(Frame()->m_engine.m_nState, STATE_TERMINAL);
        QCOMPARE(m_prompts.m_boxes.size(), 1);
        // A new download on the reopened port is answered: the old port's write count is gone.
        QTest::mouseClick(Frame()->m_pDlgBar->m_pDown, Qt::LeftButton);
        QVERIFY(Receive(*pPty, 1) == Bytes({ 'P' }));
        Bytes answer(49, 'd');
        answer[0] = 'P';
        QVERIFY(pPty->Send(answer));
        QTRY_VERIFY_WITH_TIMEOUT(Log().contains(QStringLiteral("Handshake OK")), 5000);

        QTest::mouseClick(OpenClose(), Qt::LeftButton);
        QVERIFY(Note().isEmpty());
        QVERIFY(DeviceFree(*pPty));
    }
};

QTEST_MAIN(CPortsTest)
#include "tst_ports.moc"
