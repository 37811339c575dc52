#include "../uitest.h"
#include "aboutdlg.h"
#include "atoilike.h"
#include "bremapp.h"
#include "bremview.h"
#include "controlbar.h"
#include "filefilter.h"
#include "mainframe.h"
#include "statusbar.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <csignal>
#include <memory>
#include <tuple>

namespace {

std::thread RefuseThread(void (*)(CSerialPort*), CSerialPort*)
{
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

} // namespace

class CWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    CRecordingPrompts m_prompts;
    std::unique_ptr<CBremApp> m_pApp;
    std::unique_ptr<QProcess> m_pSim;

    CMainFrame* Frame() const { return m_pApp->MainFrame(); }
    CControlBar* Bar() const { return Frame()->m_pDlgBar; }
    QString Path(const char* szName) const { return m_dir.filePath(QLatin1String(szName)); }
    QString Log() const { return QString::fromLatin1(Frame()->GetActiveView()->LogBytes()); }

    void Start(const QStringList& args = { QStringLiteral("brem") })
    {
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(m_pApp->InitInstance(args));
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
    }
    // Starts the window and opens strPort at strBaud.
    void StartOpen(const QString& strPort, const QString& strBaud = QStringLiteral("115200"))
    {
        Start();
        Bar()->m_pComPort->setCurrentIndex(Bar()->m_pComPort->findText(strPort));
        Bar()->m_pBaudRate->setCurrentIndex(Bar()->m_pBaudRate->findText(strBaud));
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
    }
    static QByteArray ReadFile(const QString& strPath)
    {
        QFile file(strPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool StartSim(const QStringList& extra)
    {
#ifdef BREM_SIM
        m_pSim = std::make_unique<QProcess>();
        m_pSim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_pSim->start(QStringLiteral(BREM_SIM),
            // A slow test loop must not pass for the quiet that ends an image of full frames.
            QStringList { QStringLiteral("--link"), Path("COM1"), QStringLiteral("--out"),
                Path("received.bin"), QStringLiteral("--idle-ms"), QStringLiteral("10000") }
                + extra);
        // The simulator names its device on its first line, once the link is in place.
        return m_pSim->waitForStarted(5000) && m_pSim->waitForReadyRead(5000)
            && QFileInfo::exists(Path("COM1"));
#else
        Q_UNUSED(extra);
        return false;
#endif
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", Path("config").toLocal8Bit());
        qputenv("BREM_PORTS_DIR", m_dir.path().toLocal8Bit());
        CPrompts::SetInstance(&m_prompts);
    }
    void cleanupTestCase()
    {
        CPrompts::SetInstance(nullptr);
    }
    void init()
    {
        m_prompts = CRecordingPrompts();
    }
    void cleanup()
    {
        m_pApp.reset();
        CSerialPort::SetThreadStarter(nullptr);
        if (m_pSim) {
            // Asked, it removes its link; the next test's simulator will not replace one.
            m_pSim->terminate();
            if (!m_pSim->waitForFinished(5000))
                m_pSim->kill();
            m_pSim->waitForFinished(5000);
            m_pSim.reset();
        }
        QCOMPARE(g_bPortOpened, 0);
    }

    // The port number read off an item as the C library reads one, and the dialogs' filters.
    void textHelpers()
    {
        QCOMPARE(AtoiLike("COM", 3), 0);
        QCOMPARE(AtoiLike("COM \t +42x", 3), 42);
        QCOMPARE(AtoiLike("+-1", 0), 0);
        QCOMPARE(AtoiLike("99999999999999999999", 0), INT_MAX);
        QCOMPARE(AtoiLike("-99999999999999999999", 0), INT_MIN);
        QCOMPARE(QtFileFilter("Bin Files(*.bin)|*.bin|All Files(*.*)|*.*||"),
            QStringLiteral("Bin Files (*.bin);;All Files (*)"));
        QCOMPARE(QtFileFilter("Logs|*.txt;*.log||"), QStringLiteral("Logs (*.txt *.log)"));
        QCOMPARE(QtFileFilter(""), QString());
    }

    void startupState()
    {
        Start();
        QCOMPARE(Bar()->m_pBaudRate->currentText(), QStringLiteral("115200"));
        QCOMPARE(Items(Bar()->m_pBaudRate),
            QStringList({ "", "1000000", "115200", "1500000", "19200", "2000000", "230400",
                "3000000", "38400", "460800", "57600", "921600", "9600" }));

        // Left to right as the operator sees them, none overlapping, all inside the bar.
        const QList<QWidget*> order { Bar()->m_pComPort, Bar()->m_pBaudRate, Bar()->m_pOpenClose,
            Bar()->m_pFilePath, Bar()->m_pLoad, Bar()->m_pDown, Bar()->m_pProgress,
            Bar()->m_pClear };
        for (int i = 0; i < order.size(); ++i) {
            QVERIFY(order[i]->isEnabled());
            // Texts fit their controls at the template's size.
            if (auto* pButton = qobject_cast<QPushButton*>(order[i]))
                QVERIFY2(pButton->fontMetrics().horizontalAdvance(pButton->text())
                        < pButton->width() - 4,
                    qPrintable(pButton->text()));
            QVERIFY(Bar()->rect().contains(order[i]->geometry()));
            if (i > 0)
                QVERIFY(order[i - 1]->geometry().right() < order[i]->geometry().left());
        }
        QVERIFY(Bar()->geometry().bottom() < Frame()->m_pStatusBar->geometry().top());
        // However narrow the operator makes the window, the whole bar stays in it.
        Frame()->resize(100, Frame()->height());
        QTRY_VERIFY(Frame()->width() >= Bar()->m_pClear->geometry().right());
        // An empty range is an empty bar, not Qt's endless busy animation.
        Frame()->SetProgressRange(0, 0);
        QVERIFY(Bar()->m_pProgress->maximum() > Bar()->m_pProgress->minimum());

        QAction* pToggle = nullptr;
        for (QAction* pAction : Frame()->findChildren<QAction*>())
            if (pAction->text() == QLatin1String("Status Bar(&S)"))
                pToggle = pAction;
        QVERIFY(pToggle && pToggle->isChecked());
        pToggle->trigger();
        QVERIFY(!Frame()->m_pStatusBar->isVisible());
        pToggle->trigger();
        QVERIFY(Frame()->m_pStatusBar->isVisible());

        CAboutDlg about(Frame());
        for (QLabel* pLabel : about.findChildren<QLabel*>())
            QVERIFY2(pLabel->fontMetrics().horizontalAdvance(pLabel->text()) <= pLabel->width(),
                qPrintable(pLabel->text()));
        auto* pOk = about.findChild<QPushButton*>(QStringLiteral("IDOK"));
        QVERIFY(pOk && pOk->isDefault());
        QVERIFY(about.rect().contains(pOk->geometry()));
    }

    // The edit accelerators through the window, with the port open and the focus on the log or
    // on a button: each pair does the same, the pane keys nothing, none sends a byte (the marker
    // typed last comes out first) or moves the focus.
    void accelerators_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QString>("clipboard");
        const int nCtrl = Qt::ControlModifier, nShift = Qt::ShiftModifier;
        QTest::newRow("Ctrl+X") << int(Qt::Key_X) << nCtrl << QByteArray("aef") << "bcd";
        QTest::newRow("Shift+Del") << int(Qt::Key_Delete) << nShift << QByteArray("aef") << "bcd";
        QTest::newRow("Ctrl+C") << int(Qt::Key_C) << nCtrl << QByteArray("abcdef") << "bcd";
        QTest::newRow("Ctrl+Ins") << int(Qt::Key_Insert) << nCtrl << QByteArray("abcdef") << "bcd";
        QTest::newRow("Ctrl+V") << int(Qt::Key_V) << nCtrl << QByteArray("aXYef") << "XY";
        QTest::newRow("Shift+Ins") << int(Qt::Key_Insert) << nShift << QByteArray("aXYef") << "XY";
        QTest::newRow("F6") << int(Qt::Key_F6) << 0 << QByteArray("abcdef") << "XY";
        QTest::newRow("Shift+F6") << int(Qt::Key_F6) << nShift << QByteArray("abcdef") << "XY";
    }
    void accelerators()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(QByteArray, log);
        QFETCH(QString, clipboard);
        CTestPty pty(Path("COM3").toStdString());
        StartOpen(QStringLiteral("COM3"));
        CBremView* pView = Frame()->GetActiveView();
        for (QWidget* pFocus : QList<QWidget*> { pView, Bar()->m_pClear }) {
            pView->SetLogBytes("abcdef");
            pView->SetSelection(1, 4);
            QGuiApplication::clipboard()->setText(QStringLiteral("XY"));
            pFocus->setFocus();

            QTest::keyClick(pFocus, Qt::Key(key), Qt::KeyboardModifiers(mods));
            QCOMPARE(pView->LogBytes(), log);
            QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
            QVERIFY(pFocus->hasFocus());
            QTest::keyClick(pView, Qt::Key_Z);
            QVERIFY(Receive(pty, 1) == Bytes({ 'z' }));
        }
        QVERIFY(m_prompts.m_boxes.isEmpty());
    }

    // Open/Close toggling, typing with the port open, then closing the window with it open.
    void portOverPty()
    {
        CTestPty pty(Path("COM3").toStdString());
        StartOpen(QStringLiteral("COM3"), QStringLiteral("9600"));
        for (int nOpen : { 1, 0, 1 }) {
            if (Frame()->m_bPortOpen != nOpen)
                QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
            QCOMPARE(Bar()->m_pOpenClose->text(), QLatin1String(nOpen ? "Close" : "Open"));
            QCOMPARE(Frame()->m_bPortOpen, nOpen);
            QCOMPARE(g_bPortOpened, nOpen);
        }
        QCOMPARE(Speed(pty), static_cast<speed_t>(B9600));

        QTest::keyClicks(Frame()->GetActiveView(), QStringLiteral("at"));
        QTest::keyClick(Frame()->GetActiveView(), Qt::Key_Return);
        QVERIFY(Receive(pty, 3) == Bytes({ 'a', 't', '\r' }));
        QVERIFY(m_prompts.m_boxes.isEmpty());

        // Bytes still arriving while the window closes must not hold the close up.
        QVERIFY(pty.Send(Bytes(4000, 'x')));
        QVERIFY(Frame()->close());
        QCOMPARE(g_bPortOpened, 0);
        QVERIFY(DeviceFree(pty));
    }

    void openRefused_data()
    {
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("box");
        QTest::newRow("empty item") << 0 << QString() << "Selecet COM First";
        QTest::newRow("no selection") << -1 << QString() << "Selecet COM First";
        // Only the list's items count: text typed over COM1 that names none is no selection.
        QTest::newRow("typed non-item") << 1 << "COM25" << QString("Selecet COM First");
        QTest::newRow("no device") << 15 << QString() << "Port Init Error";
        QTest::newRow("typed item, no device") << 1 << "COM4" << QString("Port Init Error");
        // COM3 is there but no monitor thread can be made: the port must be let go again.
        QTest::newRow("no thread") << 14 << QString() << "Port Init Error";
    }
    void openRefused()
    {
        QFETCH(int, portIndex);
        QFETCH(QString, typed);
        QFETCH(QString, box);
        // COM4 (index 15) names a device that is not there.
        QFile::remove(Path("COM4"));
        QFile::link(Path("no-such-device"), Path("COM4"));
        CTestPty pty(Path("COM3").toStdString());
        CSerialPort::SetThreadStarter(RefuseThread);
        Start();
        Bar()->m_pComPort->setCurrentIndex(portIndex);
        if (!typed.isEmpty())
            Bar()->m_pComPort->setEditText(typed);
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
        QCOMPARE(m_prompts.m_boxes, QStringList(QStringLiteral("Brem|") + box));
        QCOMPARE(Bar()->m_pOpenClose->text(), QStringLiteral("Open"));
        QCOMPARE(g_bPortOpened, 0);
        QVERIFY(!Frame()->m_Port.PortOpen());
    }

    // "DownLoad OK" only with the image on the device, whatever the device says besides.
    void wholeDownload_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("midway"); // "clear" the log or press "down" after frame 1
        QTest::newRow("accepted") << QStringList() << QString();
        QTest::newRow("cleared midway")
            << QStringList({ "--delay-ms", "30" }) << QStringLiteral("clear");
        QTest::newRow("down twice")
            << QStringList({ "--delay-ms", "30" }) << QStringLiteral("down");
        QTest::newRow("noise with answer bytes")
            << QStringList({ "--noise", "100", "--noise-acks", "--banner", "boot\x15\r\n" })
            << QString();
        QTest::newRow("stray 0x05") << QStringList({ "--stray-ack", "2" }) << QString();
    }
    void wholeDownload()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, midway);
        if (!StartSim(simArgs))
            QSKIP("the simulator is not built");
        Start();
        // 4 frames, the last one short; the header names the image at offset 3.
        QByteArray baImage("\x00\x07\x0e"
                           "DTU-TEST IMAGE 1.0",
            22);
        for (int i = baImage.size(); i < 3 * 4096 + 100; ++i)
            baImage.append(static_cast<char>((i * 7 + i / 251) & 0xFF));
        m_prompts.m_strOpen = Path("image.bin");
        QVERIFY(WriteFile(m_prompts.m_strOpen, baImage));
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
        QTest::mouseClick(Bar()->m_pLoad, Qt::LeftButton);
        QCOMPARE(Bar()->m_pFilePath->text(), m_prompts.m_strOpen);
        QTest::mouseClick(Bar()->m_pDown, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Log().contains(QStringLiteral("There are total 4 Frame")), 5000);
        QVERIFY(Log().contains(QStringLiteral("DTU-TEST IMAGE 1.0")));
        if (!midway.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(Log().contains(QStringLiteral("Frame 1  OK")), 10000);
            QTest::mouseClick(midway == QLatin1String("clear") ? Bar()->m_pClear : Bar()->m_pDown,
                Qt::LeftButton);
            QVERIFY(!Log().contains(QStringLiteral("Handshake OK")) || midway != "clear");
        }
        QTRY_VERIFY_WITH_TIMEOUT(Log().contains(QStringLiteral("DownLoad OK")), 15000);
        QCOMPARE(Bar()->m_pProgress->maximum(), 4);
        QTRY_COMPARE(Bar()->m_pProgress->value(), 4);
        // Each frame acknowledged once in the download that finished, and it alone done.
        if (midway != QLatin1String("clear"))
            QVERIFY(
                Log()
                    .mid(Log().lastIndexOf(QStringLiteral("Handshake OK")))
                    .startsWith(QStringLiteral("Handshake OK\r\nFrame 1  OK\r\nFrame 2  OK\r\n"
                                               "Frame 3  OK\r\nFrame 4  OK\r\nDownLoad OK\r\n")));
        QCOMPARE(Log().count(QStringLiteral("DownLoad OK")), 1);
        QCOMPARE(Log().contains(QStringLiteral("DownLoad Abandoned")), midway == "down");
        QTRY_COMPARE_WITH_TIMEOUT(ReadFile(Path("received.bin")), baImage, 5000);
        QFile::remove(Path("received.bin"));
    }

    void saveLoadRoundTrip()
    {
        Start();
        QByteArray baAll;
        for (int i = 0; i < 256; ++i)
            baAll.append(static_cast<char>(i));
        baAll += QByteArray("lone LF\nlone CR\rpair\r\nend", 26);
        QVERIFY(WriteFile(Path("in.log"), baAll));
        QWidget* pView = Frame()->GetActiveView();

        m_prompts.m_strOpen = Path("in.log");
        QTest::keyClick(pView, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(Frame()->GetActiveView()->LogBytes(), baAll);

        m_prompts.m_strSave = Path("out.log");
        QTest::keyClick(pView, Qt::Key_S, Qt::ControlModifier);
        // Opening named the document, so saving writes back without asking.
        QCOMPARE(m_prompts.m_nSaveAsked, 0);
        QCOMPARE(ReadFile(Path("in.log")), baAll);

        QTest::keyClick(pView, Qt::Key_N, Qt::ControlModifier);
        QVERIFY(Frame()->GetActiveView()->LogBytes().isEmpty());
        Frame()->AppendLine("OK");
        QTest::keyClick(pView, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_prompts.m_nSaveAsked, 1);
        QCOMPARE(ReadFile(Path("out.log")), QByteArray("OK\r\n"));
        QVERIFY(m_prompts.m_boxes.isEmpty());
        for (const char* szName : { "2.log", "3.log", "4.log" }) {
            QTest::keyClick(pView, Qt::Key_N, Qt::ControlModifier);
            m_prompts.m_strSave = Path(szName);
            QTest::keyClick(pView, Qt::Key_S, Qt::ControlModifier);
        }

        // A file named on the command line is opened the same way; a missing one stops start-up.
        Start({ QStringLiteral("brem"), Path("in.log") });
        QCOMPARE(Frame()->GetActiveView()->LogBytes(), baAll);
        // The list as stored, newest first, four at most, under the key other tools look in.
        QSettings settings(
            QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Brem"));
        settings.beginGroup(QStringLiteral("Recent File List"));
        QCOMPARE(settings.childKeys(), QStringList({ "File1", "File2", "File3", "File4" }));
        QStringList files;
        for (const QString& strKey : settings.childKeys())
            files << settings.value(strKey).toString();
        QCOMPARE(
            files, QStringList({ Path("in.log"), Path("4.log"), Path("3.log"), Path("2.log") }));
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(!m_pApp->InitInstance({ QStringLiteral("brem"), Path("missing") }));
        // A FIFO would wait for a writer for ever: it is refused at once, the log left as it was.
        QVERIFY(mkfifo(Path("fifo").toLocal8Bit().constData(), 0600) == 0);
        Start();
        Frame()->AppendLine("kept");
        m_prompts.m_strOpen = Path("fifo");
        QTest::keyClick(Frame()->GetActiveView(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_prompts.m_boxes.size(), 1);
        QVERIFY(m_prompts.m_boxes[0].contains(QStringLiteral("not a regular file")));
        QCOMPARE(Log(), QStringLiteral("kept\r\n"));
    }

    // Told to go by a signal, the window gives the port back as it found it. Last: the
    // window quits the application's event loop on its way out.
    void quitSignalsClosePort_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void quitSignalsClosePort()
    {
        QFETCH(int, signal);
        CTestPty pty(Path("COM3").toStdString());
        termios before {};
        QCOMPARE(tcgetattr(pty.Slave(), &before), 0);
        StartOpen(QStringLiteral("COM3"), QStringLiteral("9600"));
        QCOMPARE(g_bPortOpened, 1);

        QCOMPARE(::raise(signal), 0);
        QTRY_COMPARE(g_bPortOpened, 0);
        QVERIFY(!Frame()->isVisible());
        termios after {};
        QCOMPARE(tcgetattr(pty.Slave(), &after), 0);
        QCOMPARE(std::tie(after.c_lflag, after.c_iflag, after.c_oflag, after.c_cflag),
            std::tie(before.c_lflag, before.c_iflag, before.c_oflag, before.c_cflag));
        QVERIFY(DeviceFree(pty));
    }
};

QTEST_MAIN(CWindowTest)
#include "tst_window.moc"
