// What the window writes to files: the wire captured while a device floods it and the operator
// types, a capture cut short by SIGKILL or by a full disk, and saves that are flushed to the disk
// before they replace the old file.
#include "../../files/recordingops.h"
#include "../../files/wireparse.h"
#include "../windowfixture.h"
#include "capturecontrol.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>

#include <csignal>
#include <memory>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int64_t g_nFloodBytes = 8 << 20; // the same checks, at a sanitizer's pace
#else
constexpr int64_t g_nFloodBytes = 64 << 20;
#endif

// One burst of the wire, as a capture holds it.
struct SEvent {
    bool m_bReceived;
    std::string m_strBytes;
};

// The capture against what the device read and wrote: the bytes sent are exactly what it read,
// and the bytes received are what it wrote, in order, less what the port purged as a write began
// (on a pseudo-terminal the purge may take bytes a little before the write and a little after,
// so up to two gaps a write, near it). Empty when they agree.
QString CheckWire(const std::vector<SEvent>& vecEvents, const std::string& strDeviceRead,
    const std::string& strDeviceWrote, int* pnGaps)
{
    std::string strSent;
    std::string strReceived;
    std::vector<size_t> vecWritesAt; // received bytes before each write
    for (const SEvent& event : vecEvents) {
        if (event.m_bReceived) {
            strReceived += event.m_strBytes;
        } else {
            strSent += event.m_strBytes;
            vecWritesAt.push_back(strReceived.size());
        }
    }
    if (strSent != strDeviceRead)
        return QStringLiteral("sent %1 bytes, the device read %2")
            .arg(strSent.size())
            .arg(strDeviceRead.size());
    const size_t nNear = 64 * 1024;
    const std::string& strW = strDeviceWrote;
    size_t nAt = 0;
    *pnGaps = 0;
    for (size_t i = 0; i < strReceived.size();) {
        while (i < strReceived.size() && nAt < strW.size() && strReceived[i] == strW[nAt]) {
            ++i;
            ++nAt;
        }
        if (i == strReceived.size())
            break;
        const bool bNearWrite = std::any_of(vecWritesAt.begin(), vecWritesAt.end(),
            [&](size_t nWrite) { return i + nNear >= nWrite && i <= nWrite + nNear; });
        if (!bNearWrite)
            return QStringLiteral("received byte %1 (device byte %2) is not near a write")
                .arg(i)
                .arg(nAt);
        const size_t nFound = strW.find(strReceived.substr(i, 64), nAt);
        if (nFound == std::string::npos)
            return QStringLiteral("received bytes from %1 are not in what the device wrote").arg(i);
        nAt = nFound;
        ++*pnGaps;
    }
    if (nAt != strW.size())
        return QStringLiteral("the last %1 bytes the device wrote are missing")
            .arg(strW.size() - nAt);
    if (*pnGaps > 2 * int(vecWritesAt.size()))
        return QStringLiteral("%1 gaps for %2 writes").arg(*pnGaps).arg(vecWritesAt.size());
    return QString();
}

std::string ReadAll(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// The byte at position n of the test's own flood.
char FloodByte(int64_t n)
{
    return char((n * 7 + n / 251) & 0xFF);
}

} // namespace

class CFilesTest : public CWindowFixture {
    Q_OBJECT

private:
    std::unique_ptr<QProcess> m_pSim;
    QString m_strMount;
    std::unique_ptr<CRecordingOps> m_pFullOps; // outlives the window's capture writer

    CCaptureControl* Capture() const { return Frame()->m_pCapture; }
    void Trigger(const QString& strItem)
    {
        for (QAction* pAction : Frame()->findChildren<QAction*>())
            if (pAction->text() == strItem)
                pAction->trigger();
    }
    // Writes bytes to the device end while the window takes them in.
    void Flood(CTestPty& pty, const QByteArray& baBytes)
    {
        for (qsizetype nSent = 0; nSent < baBytes.size();) {
            const ssize_t n = ::write(pty.Master(), baBytes.constData() + nSent,
                size_t(std::min<qsizetype>(baBytes.size() - nSent, 65536)));
            nSent += n > 0 ? n : 0;
            QCoreApplication::processEvents();
        }
    }

private Q_SLOTS:
    void initTestCase() { Prepare(); }
    void cleanupTestCase() { Finish(); }
    void init() { m_prompts = CRecordingPrompts(); }
    void cleanup()
    {
        m_pApp.reset();
        if (m_pSim) {
            m_pSim->terminate();
            if (!m_pSim->waitForFinished(10000))
                m_pSim->kill();
            m_pSim.reset();
        }
        if (!m_strMount.isEmpty()) {
            ::umount(QFile::encodeName(m_strMount).constData());
            m_strMount.clear();
        }
        m_pFullOps.reset();
    }

    // A device floods the window while the operator types; the capture holds the wire: what
    // went out exactly as the device read it, what came in as the device wrote it.
    void floodWithTyping_data()
    {
        QTest::addColumn<bool>("bTimed");
        QTest::newRow("raw") << false;
        QTest::newRow("timed") << true;
    }
    void floodWithTyping()
    {
#ifndef BREM_SIM
        QSKIP("needs brem-sim");
#else
        QFETCH(bool, bTimed);
        const QString strCapture = Path(bTimed ? "wire.txt" : "wire.bin");
        QFile::remove(strCapture);
        m_pSim = std::make_unique<QProcess>();
        m_pSim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The flood never holds 'P', 0x05 or 0x15: in the raw capture those bytes are the typing.
        m_pSim->start(QStringLiteral(BREM_SIM),
            { QStringLiteral("--link"), Path("COM1"), QStringLiteral("--flood"),
                QString::number(g_nFloodBytes), QStringLiteral("--flood-kind"),
                QStringLiteral("random"), QStringLiteral("--save-read"), Path("sim-read"),
                QStringLiteral("--save-written"), Path("sim-wrote") });
        QVERIFY(m_pSim->waitForStarted(5000) && m_pSim->waitForReadyRead(5000));
        Start(QStringLiteral("COM1"));
        // Every byte received kept: the log less what was typed is what the port delivered.
        View()->SetLineEnds(ELineEnds::AsReceived);
        QVERIFY(Capture()->Start(
            strCapture, bTimed ? CWireCapture::EFormat::Timed : CWireCapture::EFormat::Raw));
        QVERIFY(Capture()->m_pStatus->isVisible());

        // Ctrl+E and Ctrl+U (0x05, 0x15) while the flood comes; the first starts it.
        const CLogStore& store = View()->Store();
        for (int nKey = 0; nKey < 40; ++nKey) {
            QTest::keyClick(View(), nKey % 2 ? Qt::Key_U : Qt::Key_E, Qt::ControlModifier);
            const int64_t nNext = store.Size() + g_nFloodBytes / 100;
            QVERIFY(RunUntil([&] { return store.Size() >= nNext; }, 60000));
        }
        // A poll: the device answers it once its flood is out, so the answer ends the wire.
        QTest::keyClick(View(), 'P');
        QVERIFY(RunUntil(
            [&] { return store.Bytes(store.Size() - 48, store.Size()).contains("DEVICE V1.0"); },
            60000));
        QVERIFY(Capture()->m_pStatus->text().startsWith(
            QStringLiteral("Capturing to ") + QFileInfo(strCapture).fileName()));
        Trigger(QStringLiteral("Stop Capture(&C)"));
        QVERIFY(!Capture()->IsOn());
        QVERIFY(Capture()->WaitForFile(10000));
        QTest::mouseClick(Frame()->m_pDlgBar->m_pOpenClose, Qt::LeftButton);
        m_pSim->terminate();
        QVERIFY(m_pSim->waitForFinished(10000));
        m_pSim.reset();

        const std::string strFile = ReadAll(strCapture);
        const std::string strRead = ReadAll(Path("sim-read"));
        const std::string strWrote = ReadAll(Path("sim-wrote"));
        QCOMPARE(strRead.size(), size_t(41));
        std::vector<SEvent> vecEvents;
        if (bTimed) {
            const SParsedWire wire = ParseTimedWire(strFile);
            QCOMPARE(QString::fromStdString(wire.m_strError), QString());
            for (const auto& [bReceived, strBytes] : wire.m_vecBursts)
                vecEvents.push_back({ bReceived, strBytes });
        } else {
            // The answer's 'P' ends the file; any other 'P', 0x05 or 0x15 was typed.
            const size_t nAnswer = strFile.size() - strWrote.size() + strWrote.rfind('P');
            QCOMPARE(strFile.substr(nAnswer), strWrote.substr(strWrote.rfind('P')));
            for (size_t i = 0; i < strFile.size(); ++i) {
                const char c = strFile[i];
                const bool bReceived = i >= nAnswer || (c != 'P' && c != 0x05 && c != 0x15);
                if (vecEvents.empty() || vecEvents.back().m_bReceived != bReceived)
                    vecEvents.push_back({ bReceived, std::string() });
                vecEvents.back().m_strBytes += c;
            }
        }
        // Received: exactly what the port delivered to the log.
        std::string strReceived;
        for (const SEvent& event : vecEvents)
            if (event.m_bReceived)
                strReceived += event.m_strBytes;
        QByteArray baDelivered = View()->LogBytes();
        baDelivered.replace('\x05', QByteArray()).replace('\x15', QByteArray());
        baDelivered.remove(baDelivered.indexOf('P'), 1); // the typed one; the answer's follows
        QVERIFY(strReceived == baDelivered.toStdString());
        int nGaps = 0;
        QCOMPARE(CheckWire(vecEvents, strRead, strWrote, &nGaps), QString());
        QVERIFY(strWrote.size() >= size_t(g_nFloodBytes));
        QVERIFY(m_prompts.m_boxes.isEmpty());
#endif
    }

    // Killed in the middle of a flood, the window leaves a file that is the wire up to about the
    // last second.
    void killedMidFlood()
    {
#ifndef BREM_CAPTURE_CHILD
        QSKIP("needs the capture child");
#else
        CTestPty pty(Path("COM1").toStdString());
        const QString strCapture = Path("killed.bin");
        QFile::remove(strCapture);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(BREM_CAPTURE_CHILD), { strCapture });
        QVERIFY(child.waitForStarted(5000));
        QVERIFY(child.waitForReadyRead(20000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("capturing"));
        QVERIFY(pty.Receive(1, 10000) == Bytes { 'S' });

        // Flood for a while, noting how much had gone out when.
        using Clock = std::chrono::steady_clock;
        std::vector<std::pair<Clock::time_point, int64_t>> vecSent;
        std::string strChunk(65536, '\0');
        int64_t nSent = 0;
        const Clock::time_point tpStart = Clock::now();
        while (Clock::now() - tpStart < std::chrono::milliseconds(2500)) {
            for (size_t i = 0; i < strChunk.size(); ++i)
                strChunk[i] = FloodByte(nSent + int64_t(i));
            pollfd pfd { pty.Master(), POLLOUT, 0 };
            if (::poll(&pfd, 1, 10) <= 0)
                continue;
            const ssize_t n = ::write(pty.Master(), strChunk.data(), strChunk.size());
            if (n > 0) {
                nSent += n;
                vecSent.emplace_back(Clock::now(), nSent);
            }
        }
        const Clock::time_point tpKill = Clock::now();
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));

        const std::string strFile = ReadAll(strCapture);
        QVERIFY(!strFile.empty() && strFile[0] == 'S');
        for (size_t i = 1; i < strFile.size(); ++i)
            QVERIFY2(strFile[i] == FloodByte(int64_t(i) - 1), qPrintable(QString::number(i)));
        int64_t nSentSecondBefore = 0;
        for (const auto& [tp, n] : vecSent)
            if (tp <= tpKill - std::chrono::seconds(1))
                nSentSecondBefore = n;
        qInfo("the file holds %lld flooded bytes; %lld had been sent a second before the kill, "
              "%lld at the kill",
            (long long)strFile.size() - 1, (long long)nSentSecondBefore, (long long)nSent);
        // What the port and its read-ahead held had not been received yet.
        const int64_t nInFlight = 256 * 1024;
        QVERIFY2(int64_t(strFile.size()) - 1 >= nSentSecondBefore - nInFlight,
            qPrintable(QStringLiteral("file %1, sent a second before the kill %2")
                           .arg(strFile.size())
                           .arg(nSentSecondBefore)));
#endif
    }

    // A full disk: one box that says so, the capture stops, the log keeps every byte. A small
    // tmpfs where one can be mounted; elsewhere (no CAP_SYS_ADMIN, as in most containers) a disk
    // seam that refuses writes past the same room with ENOSPC, as the kernel does.
    void fullDisk()
    {
        const QString strMount = Path("small");
        QDir().mkpath(strMount);
        if (::mount("tmpfs", QFile::encodeName(strMount).constData(), "tmpfs", 0, "size=256k")
            == 0) {
            m_strMount = strMount;
        } else {
            qInfo("no tmpfs can be mounted here: the disk fills through the seam");
            m_pFullOps = std::make_unique<CRecordingOps>();
            m_pFullOps->m_nRoom = 256 * 1024;
        }
        CTestPty pty(Path("COM3").toStdString());
        Start(QStringLiteral("COM3"));
        Settle(pty);
        View()->SetLineEnds(ELineEnds::AsReceived);
        const QString strCapture = strMount + QStringLiteral("/wire.bin");
        QVERIFY(Capture()->Start(strCapture, CWireCapture::EFormat::Raw));
        QByteArray baFlood(1 << 20, '\0');
        for (int i = 0; i < baFlood.size(); ++i)
            baFlood[i] = FloodByte(i);
        Flood(pty, baFlood);
        QTRY_COMPARE(View()->Store().Size(), int64_t(baFlood.size()));
        QTRY_VERIFY(!Capture()->IsOn());
        QTRY_COMPARE(m_prompts.m_boxes.size(), 1);
        Flood(pty, baFlood.left(100000));
        QTRY_COMPARE(View()->Store().Size(), int64_t(baFlood.size()) + 100000);
        QCOMPARE(m_prompts.m_boxes.size(), 1);
        QVERIFY2(m_prompts.m_boxes[0].contains(QStringLiteral("No space left on device")),
            qPrintable(m_prompts.m_boxes[0]));
        QVERIFY(Capture()->m_pStatus->isHidden());
        const std::string strFile = ReadAll(strCapture);
        QVERIFY(strFile.size() > 0 && strFile.size() <= 256 * 1024);
        QCOMPARE(QByteArray::fromStdString(strFile), baFlood.left(qsizetype(strFile.size())));
        QCOMPARE(View()->LogBytes().left(baFlood.size()), baFlood);
    }

    // Ctrl+S and Save with Timestamps: the new file is flushed whole, then renamed over the old
    // one, then the folder flushed; meanwhile the window goes on, and what arrives is not saved.
    void savesFlushBeforeRename()
    {
        CRecordingOps ops;
        Start();
        const QByteArray baLog = QByteArray("line one\r\nline two\r\n").repeated(1000);
        View()->SetLogBytes(baLog);
        const QString strSaved = Path("saved.log");
        QVERIFY(WriteFile(strSaved, "old"));
        m_prompts.m_strSave = strSaved;

        ops.Hold(true);
        bool bLiveDuringFlush = false;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, Frame(), [&] {
            if (!ops.SyncWaiting())
                return;
            const unsigned char nByte = '!';
            Frame()->AppendRaw(&nByte, 1);
            bLiveDuringFlush = true;
            poll.stop();
            ops.Release();
        });
        poll.start();
        QTest::keyClick(View(), Qt::Key_S, Qt::ControlModifier);
        QVERIFY(bLiveDuringFlush);
        QCOMPARE(ReadAll(strSaved), baLog.toStdString());
        QVERIFY(View()->LogBytes().endsWith('!'));
        std::vector<std::string> calls = ops.Calls();
        QCOMPARE(calls.size(), size_t(3));
        QCOMPARE(calls[0], "sync " + std::to_string(baLog.size()));
        QVERIFY(calls[1].rfind("rename " + strSaved.toStdString() + ".", 0) == 0);
        QVERIFY(calls[1].size() > 7
            && calls[1].substr(calls[1].rfind(' ') + 1) == strSaved.toStdString());
        QCOMPARE(calls[2], "folder " + m_dir.path().toStdString());

        // A flush that fails leaves the old file as it was.
        ops.m_bFailSync = true;
        Trigger(QStringLiteral("Save with Timestamps...(&T)"));
        QCOMPARE(ReadAll(strSaved), baLog.toStdString());
        QCOMPARE(m_prompts.m_boxes.size(), 1);
        QVERIFY(m_prompts.m_boxes[0].contains(QStringLiteral("flush")));
        calls = ops.Calls();
        QCOMPARE(calls.size(), size_t(4));
        QVERIFY(calls.back().rfind("sync ", 0) == 0);
        QCOMPARE(QDir(m_dir.path()).entryList({ QStringLiteral("saved.log.*") }), QStringList());
    }
};

QTEST_MAIN(CFilesTest)
#include "tst_files.moc"
