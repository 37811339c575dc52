#include "aboutdlg.h"
#include "atoilike.h"
#include "bremapp.h"
#include "bremview.h"
#include "controlbar.h"
#include "filefilter.h"
#include "mainframe.h"
#include "prompts.h"
#include "statusbar.h"

#include <QAction>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

namespace {

// Answers the window's boxes and dialogs the way a test asks, and remembers the boxes.
class CRecordingPrompts : public CPrompts {
public:
    void MessageBox(QWidget*, const QString& strCaption, const QString& strText, bool) override
    {
        m_boxes << strCaption + QLatin1Char('|') + strText;
    }
    QString OpenFileName(QWidget*, const QString&) override
    {
        ++m_nOpenAsked;
        return m_strOpen;
    }
    QString SaveFileName(QWidget*) override
    {
        ++m_nSaveAsked;
        return m_strSave;
    }
    QStringList m_boxes;
    QString m_strOpen;
    QString m_strSave;
    int m_nOpenAsked = 0;
    int m_nSaveAsked = 0;
};

// A pseudo-terminal whose slave is reachable as ports-dir/COMn, as a device would be.
class CPty {
public:
    CPty(const QString& strLink)
    {
        char szName[128] = {};
        if (openpty(&m_nMaster, &m_nSlave, szName, nullptr, nullptr) == 0) {
            fcntl(m_nMaster, F_SETFL, fcntl(m_nMaster, F_GETFL) | O_NONBLOCK);
            QFile::remove(strLink);
            QFile::link(QString::fromLocal8Bit(szName), strLink);
        }
    }
    ~CPty()
    {
        if (m_nMaster >= 0)
            close(m_nMaster);
        if (m_nSlave >= 0)
            close(m_nSlave);
    }
    // What the device received, waiting up to the deadline for nWant bytes.
    QByteArray Read(int nWant, int nMs = 5000)
    {
        QByteArray baGot;
        QDeadlineTimer deadline(nMs);
        while (baGot.size() < nWant && !deadline.hasExpired()) {
            pollfd pfd { m_nMaster, POLLIN, 0 };
            if (poll(&pfd, 1, static_cast<int>(deadline.remainingTime())) <= 0)
                break;
            char buf[256];
            const ssize_t n = read(m_nMaster, buf, sizeof buf);
            if (n <= 0)
                break;
            baGot.append(buf, n);
        }
        return baGot;
    }
    int m_nMaster = -1;
    int m_nSlave = -1;
};

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
    QString Path(const QString& strName) const { return m_dir.filePath(strName); }
    QString Log() const { return QString::fromLatin1(Frame()->GetActiveView()->LogBytes()); }

    void Start(const QStringList& args = { QStringLiteral("brem") })
    {
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(m_pApp->InitInstance(args));
        QVERIFY(QTest::qWaitForWindowActive(Frame()));
    }
    void SelectPort(const QString& strPort, const QString& strBaud = QStringLiteral("115200"))
    {
        Bar()->m_pComPort->setCurrentIndex(Bar()->m_pComPort->findText(strPort));
        Bar()->m_pBaudRate->setCurrentIndex(Bar()->m_pBaudRate->findText(strBaud));
    }
    static void WriteFile(const QString& strPath, const QByteArray& baBytes)
    {
        QFile file(strPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(baBytes), baBytes.size());
    }
    static QByteArray ReadFile(const QString& strPath)
    {
        QFile file(strPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QByteArray Image(int nLength)
    {
        QByteArray baImage(nLength, '\0');
        for (int i = 0; i < nLength; ++i)
            baImage[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        const QByteArray baHeader("DTU-TEST IMAGE 1.0");
        for (int i = 0; i < baHeader.size() && 3 + i < nLength; ++i)
            baImage[3 + i] = baHeader[i];
        if (nLength > 3 + baHeader.size())
            baImage[3 + baHeader.size()] = '\0';
        return baImage;
    }
    bool StartSim(const QStringList& extra)
    {
#ifdef BREM_SIM
        m_pSim = std::make_unique<QProcess>();
        m_pSim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_pSim->start(QStringLiteral(BREM_SIM),
            QStringList { QStringLiteral("--link"), Path(QStringLiteral("COM1")),
                QStringLiteral("--out"), Path(QStringLiteral("received.bin")) }
                + extra);
        // The simulator names its device on its first line, once the link is in place.
        return m_pSim->waitForStarted(5000) && m_pSim->waitForReadyRead(5000)
            && QFileInfo::exists(Path(QStringLiteral("COM1")));
#else
        Q_UNUSED(extra);
        return false;
#endif
    }
    void RunDownload(const QByteArray& baImage)
    {
        WriteFile(Path(QStringLiteral("image.bin")), baImage);
        m_prompts.m_strOpen = Path(QStringLiteral("image.bin"));
        SelectPort(QStringLiteral("COM1"));
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
        QCOMPARE(Bar()->m_pOpenClose->text(), QStringLiteral("Close"));
        QTest::mouseClick(Bar()->m_pLoad, Qt::LeftButton);
        QCOMPARE(Bar()->m_pFilePath->text(), m_prompts.m_strOpen);
        QTest::mouseClick(Bar()->m_pDown, Qt::LeftButton);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", Path(QStringLiteral("config")).toLocal8Bit());
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
        if (m_pSim) {
            m_pSim->kill();
            m_pSim->waitForFinished(5000);
            m_pSim.reset();
        }
        QCOMPARE(g_bPortOpened, 0);
    }

    void atoiLike_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("value");
        QTest::newRow("port item") << "COM17" << 3 << 17;
        QTest::newRow("baud item") << "115200" << 0 << 115200;
        QTest::newRow("empty") << "" << 0 << 0;
        QTest::newRow("past the end") << "COM" << 3 << 0;
        QTest::newRow("leading blanks") << "COM \t 5" << 3 << 5;
        QTest::newRow("plus sign") << "+42x" << 0 << 42;
        QTest::newRow("minus sign") << "-3" << 0 << -3;
        QTest::newRow("sign without digits") << "-x" << 0 << 0;
        QTest::newRow("two signs") << "+-1" << 0 << 0;
        QTest::newRow("stops at non-digit") << "96OO" << 0 << 96;
        QTest::newRow("saturates") << "99999999999999999999" << 0 << INT_MAX;
        QTest::newRow("saturates negative") << "-99999999999999999999" << 0 << INT_MIN;
    }
    void atoiLike()
    {
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, value);
        QCOMPARE(AtoiLike(text.toStdString(), static_cast<std::size_t>(from)), value);
    }

    void fileFilter_data()
    {
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("qt");
        QTest::newRow("image filter") << "Bin Files(*.bin)|*.bin|All Files(*.*)|*.*||"
                                      << "Bin Files (*.bin);;All Files (*)";
        QTest::newRow("several patterns") << "Logs|*.txt;*.log||"
                                          << "Logs (*.txt *.log)";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fileFilter()
    {
        QFETCH(QString, windows);
        QFETCH(QString, qt);
        QCOMPARE(QtFileFilter(windows.toStdString()), qt);
    }

    void startupState()
    {
        Start();
        QCOMPARE(Frame()->windowTitle(), QStringLiteral("Quarnel DTU Firmware Upgrade Tool V1.1"));
        QCOMPARE(Bar()->m_pComPort->currentText(), QStringLiteral("COM1"));
        QCOMPARE(Bar()->m_pBaudRate->currentText(), QStringLiteral("115200"));
        QCOMPARE(Bar()->m_pOpenClose->text(), QStringLiteral("Open"));
        QCOMPARE(Bar()->m_pProgress->value(), Bar()->m_pProgress->minimum());
        QVERIFY(Frame()->GetActiveView()->LogBytes().isEmpty());
        QCOMPARE(Frame()->m_bPortOpen, 0);

        QStringList ports;
        for (int i = 0; i < Bar()->m_pComPort->count(); ++i)
            ports << Bar()->m_pComPort->itemText(i);
        QCOMPARE(ports.mid(0, 5), QStringList({ "", "COM1", "COM10", "COM11", "COM12" }));
        QCOMPARE(ports.mid(11, 5), QStringList({ "COM19", "COM2", "COM20", "COM3", "COM4" }));
        QCOMPARE(ports.size(), 21);
        QStringList rates;
        for (int i = 0; i < Bar()->m_pBaudRate->count(); ++i)
            rates << Bar()->m_pBaudRate->itemText(i);
        QCOMPARE(rates, QStringList({ "", "115200", "19200", "38400", "57600", "9600" }));

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
        QVERIFY(Bar()->width() >= order.last()->geometry().right());
        QVERIFY(Bar()->geometry().bottom() < Frame()->m_pStatusBar->geometry().top());
        QCOMPARE(Frame()->m_pStatusBar->m_pIdle->text(), QStringLiteral("就绪"));

        QStringList menus;
        for (QAction* pAction : Frame()->menuBar()->actions())
            menus << pAction->text();
        QCOMPARE(menus, QStringList({ "File(&F)", "View(&V)", "Help(&H)" }));
    }

    void statusPrompts()
    {
        Start();
        QStatusTipEvent tip(Bar()->m_pDown->statusTip());
        QCoreApplication::sendEvent(Bar()->m_pDown, &tip);
        QCOMPARE(Frame()->m_pStatusBar->currentMessage(), QStringLiteral("开始下装"));
        QCOMPARE(Bar()->m_pLoad->toolTip(), QStringLiteral("装载"));
        QCOMPARE(Bar()->m_pOpenClose->statusTip(), QStringLiteral("串口操作"));

        CKeyLocks locks;
        locks.m_bNum = true;
        Frame()->m_pStatusBar->ShowLocks(locks);
        QCOMPARE(Frame()->m_pStatusBar->m_pNum->text(), QStringLiteral("数字"));
        QVERIFY(Frame()->m_pStatusBar->m_pCaps->text().isEmpty());
    }

    void menusAndAbout()
    {
        Start();
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
        QCOMPARE(about.windowTitle(), QStringLiteral("About Brem"));
        QStringList texts;
        for (QLabel* pLabel : about.findChildren<QLabel*>())
            texts << pLabel->text();
        QVERIFY(texts.contains(QStringLiteral("Lomaris V1.0")));
        for (QLabel* pLabel : about.findChildren<QLabel*>())
            QVERIFY2(pLabel->fontMetrics().horizontalAdvance(pLabel->text()) <= pLabel->width(),
                qPrintable(pLabel->text()));
        auto* pOk = about.findChild<QPushButton*>(QStringLiteral("IDOK"));
        QVERIFY(pOk && pOk->isDefault());
        QVERIFY(about.rect().contains(pOk->geometry()));
    }

    void openCloseToggles()
    {
        CPty pty(Path(QStringLiteral("COM3")));
        QVERIFY(pty.m_nMaster >= 0);
        Start();
        SelectPort(QStringLiteral("COM3"), QStringLiteral("9600"));
        for (const char* szAfter : { "Close", "Open", "Close" }) {
            QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
            QCOMPARE(Bar()->m_pOpenClose->text(), QLatin1String(szAfter));
            const int nOpen = QLatin1String(szAfter) == QLatin1String("Close") ? 1 : 0;
            QCOMPARE(Frame()->m_bPortOpen, nOpen);
            QCOMPARE(g_bPortOpened, nOpen);
        }
        termios tio {};
        QCOMPARE(tcgetattr(pty.m_nSlave, &tio), 0);
        QCOMPARE(cfgetospeed(&tio), static_cast<speed_t>(B9600));
        QVERIFY(m_prompts.m_boxes.isEmpty());
    }

    void openRefused_data()
    {
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("box");
        QTest::newRow("empty item") << 0 << ""
                                    << "Brem|Selecet COM First";
        QTest::newRow("no selection") << -1 << ""
                                      << "Brem|Selecet COM First";
        // Only the list's items count: text typed over COM1 that names none is no selection.
        QTest::newRow("typed non-item") << 1 << "COM25"
                                        << "Brem|Selecet COM First";
        QTest::newRow("no device") << 15 << ""
                                   << "Brem|Port Init Error";
        QTest::newRow("typed item, no device") << 1 << "COM4"
                                               << "Brem|Port Init Error";
    }
    void openRefused()
    {
        QFETCH(int, portIndex);
        QFETCH(QString, typed);
        QFETCH(QString, box);
        // COM4 (index 15) names a device that is not there.
        QFile::remove(Path(QStringLiteral("COM4")));
        QFile::link(Path(QStringLiteral("no-such-device")), Path(QStringLiteral("COM4")));
        Start();
        QCOMPARE(Bar()->m_pComPort->itemText(15), QStringLiteral("COM4"));
        Bar()->m_pComPort->setCurrentIndex(portIndex);
        if (!typed.isEmpty())
            Bar()->m_pComPort->setEditText(typed);
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
        QVERIFY(!m_prompts.m_boxes.isEmpty());
        QCOMPARE(m_prompts.m_boxes.last(), box);
        QCOMPARE(Bar()->m_pOpenClose->text(), QStringLiteral("Open"));
        QCOMPARE(Frame()->m_bPortOpen, 0);
        QCOMPARE(g_bPortOpened, 0);
    }

    void typingSendsBytes()
    {
        CPty pty(Path(QStringLiteral("COM3")));
        Start();
        SelectPort(QStringLiteral("COM3"));
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
        QCOMPARE(Frame()->m_bPortOpen, 1);
        QTest::keyClicks(Frame()->GetActiveView(), QStringLiteral("at"));
        QTest::keyClick(Frame()->GetActiveView(), Qt::Key_Return);
        QCOMPARE(pty.Read(3), QByteArray("at\r"));
    }

    void wholeDownload_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("clearMidway");
        QTest::newRow("accepted") << QStringList() << "DownLoad OK" << false;
        QTest::newRow("refused") << QStringList({ "--refuse", "2" }) << "CheckSum Error" << false;
        QTest::newRow("cleared midway")
            << QStringList({ "--delay-ms", "30" }) << "DownLoad OK" << true;
    }
    void wholeDownload()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, outcome);
        QFETCH(bool, clearMidway);
        if (!StartSim(simArgs))
            QSKIP("the simulator is not built");
        Start();
        const QByteArray baImage = Image(3 * 4096 + 100);
        RunDownload(baImage);
        QTRY_VERIFY_WITH_TIMEOUT(Log().contains(QStringLiteral("There are total 4 Frame")), 5000);
        QVERIFY(Log().contains(QStringLiteral("DTU-TEST IMAGE 1.0")));
        if (clearMidway) {
            QTRY_VERIFY_WITH_TIMEOUT(Log().contains(QStringLiteral("Frame 1  OK")), 10000);
            QTest::mouseClick(Bar()->m_pClear, Qt::LeftButton);
            QVERIFY(!Log().contains(QStringLiteral("Handshake OK")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(Log().contains(outcome), 15000);
        if (outcome == QLatin1String("DownLoad OK")) {
            QCOMPARE(Bar()->m_pProgress->maximum(), 4);
            QCOMPARE(Bar()->m_pProgress->value(), 4);
            QVERIFY(Log().contains(QStringLiteral("Frame 4  OK")));
            QTRY_COMPARE_WITH_TIMEOUT(
                ReadFile(Path(QStringLiteral("received.bin"))), baImage, 5000);
        } else {
            QCOMPARE(Bar()->m_pProgress->value(), 1);
            QVERIFY(!Log().contains(QStringLiteral("DownLoad OK")));
        }
        QFile::remove(Path(QStringLiteral("received.bin")));
    }

    void saveLoadRoundTrip()
    {
        Start();
        QByteArray baAll;
        for (int i = 0; i < 256; ++i)
            baAll.append(static_cast<char>(i));
        baAll += QByteArray("lone LF\nlone CR\rpair\r\nend", 26);
        WriteFile(Path(QStringLiteral("in.log")), baAll);
        QWidget* pView = Frame()->GetActiveView();

        m_prompts.m_strOpen = Path(QStringLiteral("in.log"));
        QTest::keyClick(pView, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(Frame()->GetActiveView()->LogBytes(), baAll);

        m_prompts.m_strSave = Path(QStringLiteral("out.log"));
        QTest::keyClick(pView, Qt::Key_S, Qt::ControlModifier);
        // Opening named the document, so saving writes back without asking.
        QCOMPARE(m_prompts.m_nSaveAsked, 0);
        QCOMPARE(ReadFile(Path(QStringLiteral("in.log"))), baAll);

        QTest::keyClick(pView, Qt::Key_N, Qt::ControlModifier);
        QVERIFY(Frame()->GetActiveView()->LogBytes().isEmpty());
        Frame()->AppendLine("OK");
        QTest::keyClick(pView, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_prompts.m_nSaveAsked, 1);
        QCOMPARE(ReadFile(Path(QStringLiteral("out.log"))), QByteArray("OK\r\n"));
        QTest::keyClick(pView, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_prompts.m_nSaveAsked, 1);
        QVERIFY(m_prompts.m_boxes.isEmpty());

        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("Recent File List/File1")).toString(),
            Path(QStringLiteral("out.log")));
    }

    void commandLineFile()
    {
        WriteFile(Path(QStringLiteral("start.txt")), QByteArray("line 1\nline 2\n"));
        Start({ QStringLiteral("brem"), Path(QStringLiteral("start.txt")) });
        QCOMPARE(Frame()->GetActiveView()->LogBytes(), QByteArray("line 1\nline 2\n"));
        m_pApp = std::make_unique<CBremApp>();
        QVERIFY(!m_pApp->InitInstance({ QStringLiteral("brem"), Path(QStringLiteral("missing")) }));
    }

    void closeWithPortOpen()
    {
        CPty pty(Path(QStringLiteral("COM3")));
        Start();
        SelectPort(QStringLiteral("COM3"));
        QTest::mouseClick(Bar()->m_pOpenClose, Qt::LeftButton);
        QCOMPARE(g_bPortOpened, 1);
        // Bytes still arriving while the window closes must not hold the close up.
        const QByteArray baFlood(4000, 'x');
        QCOMPARE(
            write(pty.m_nMaster, baFlood.constData(), baFlood.size()), ssize_t(baFlood.size()));
        QVERIFY(Frame()->close());
        QCOMPARE(g_bPortOpened, 0);
        QCOMPARE(Frame()->m_bPortOpen, 0);
        // The device is free again: someone else can take the line.
        const int nFd = open(
            Path(QStringLiteral("COM3")).toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(nFd >= 0);
        QCOMPARE(flock(nFd, LOCK_EX | LOCK_NB), 0);
        close(nFd);
    }
};

QTEST_MAIN(CWindowTest)
#include "tst_window.moc"
