// The log view alone, in one command: resident memory per log byte for 10 MB, 100 MB and 1 GiB of
// received log; the rate at which it takes bytes one call per byte (with frames painting) with
// an empty log, 10 MB and 1 GiB in it; and, with 1 GiB, how long opening, saving, scrolling to
// the top and back, and Clear take, beside a raw read and write of the same file. Each part runs
// in a fresh process so that its memory is its own. Prints figures, never fails on time.
#include "../residentmemory.h"
#include "bremdoc.h"
#include "bremview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QScrollBar>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t g_nGiB = int64_t(1) << 30;
// The rate the serial hand-over aims to deliver at; the view's cost is given as a share of it.
constexpr double g_dTargetRate = 1e6;

// 80-byte lines as a device sends them (text, CR, LF), or the same without breaks.
QByteArray Chunk(bool bLines)
{
    QByteArray ba;
    for (int n = 0; ba.size() < 64 * 1024; ++n) {
        QByteArray baLine = QByteArray::number(n).rightJustified(8, '0') + ' ';
        while (baLine.size() < 78)
            baLine += char('!' + (baLine.size() + n) % 90);
        ba += baLine + (bLines ? QByteArray("\r\n") : QByteArray("--"));
    }
    return ba;
}

// Fills the log as if it had been received: 80-byte lines, stamped as they arrive.
void Receive(CBremView& view, int64_t nBytes, bool bLines = true)
{
    const QByteArray baChunk = Chunk(bLines);
    const auto* p = reinterpret_cast<const unsigned char*>(baChunk.constData());
    for (int64_t nDone = 0; nDone < nBytes; nDone += baChunk.size()) {
        view.AppendRaw(p, uint32_t(std::min<int64_t>(baChunk.size(), nBytes - nDone)));
        if ((nDone & ((int64_t(64) << 20) - 1)) == 0)
            QApplication::processEvents();
    }
    view.FlushPending();
    view.repaint();
}

double ThreadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double Ms(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

void Show(CBremView& view)
{
    view.resize(900, 600);
    view.show();
    QApplication::processEvents();
}

// Child: resident memory over the idle window for a received log of nBytes.
int RunMemory(int64_t nBytes)
{
    CBremView view;
    Show(view);
    Receive(view, 1000); // fonts, glyph caches and the first paint belong to idle
    view.ClearLog();
    QApplication::processEvents();
    const long nIdleKb = ResidentKb();
    Receive(view, nBytes);
    QApplication::processEvents();
    const long nKb = ResidentKb();
    std::printf("%8.0f MB  idle %5ld MB  with log %6ld MB  %.2f bytes of memory per log byte\n",
        nBytes / 1e6, nIdleKb / 1024, nKb / 1024, (nKb - nIdleKb) * 1024.0 / double(nBytes));
    return 0;
}

// Child: bytes per second the view takes, one AppendRaw per byte, delivered in batches from the
// event loop so that frames are painted as they would be.
int RunIngest()
{
    CBremView view;
    Show(view);
    // Line ends as received last, with an empty log: every byte kept as it came.
    for (int64_t nPreload : { int64_t(0), int64_t(10000000), g_nGiB, int64_t(-1) }) {
        for (bool bLines : { true, false }) {
            view.SetLineEnds(nPreload < 0 ? ELineEnds::AsReceived : ELineEnds::CrLf);
            view.ClearLog();
            Receive(view, std::max<int64_t>(0, nPreload));
            const QByteArray baChunk = Chunk(bLines);
            const auto* p = reinterpret_cast<const unsigned char*>(baChunk.constData());
            constexpr int nBatch = 4096;
            constexpr int64_t nTotal = 64 * 1024 * 1024;
            QEventLoop loop;
            int64_t nDone = 0;
            std::function<void()> fnBatch = [&] {
                for (int i = 0; i < nBatch; ++i, ++nDone)
                    view.AppendRaw(p + (nDone % baChunk.size()), 1);
                if (nDone >= nTotal)
                    loop.quit();
                else
                    QMetaObject::invokeMethod(&loop, fnBatch, Qt::QueuedConnection);
            };
            QElapsedTimer timer;
            timer.start();
            const double dCpu = ThreadCpuSeconds();
            QMetaObject::invokeMethod(&loop, fnBatch, Qt::QueuedConnection);
            loop.exec();
            view.FlushPending();
            view.repaint();
            const double dRate = nDone / (ThreadCpuSeconds() - dCpu);
            // What one frame costs: taking in a byte, finding the end rows, painting them.
            const double dFrameCpu = ThreadCpuSeconds();
            for (int n = 0; n < 100; ++n) {
                view.AppendRaw(p + n, 1);
                view.FlushPending();
                view.viewport()->repaint();
            }
            const double dFrameMs = (ThreadCpuSeconds() - dFrameCpu) * 10;
            std::printf("%-8s log, %-13s %6.1f MB/s of UI-thread time (%5.1f ns/byte): %5.0f x "
                        "1 MB/s; at 1 MB/s the view takes %.1f%% of the UI thread; a frame "
                        "%.2f ms\n",
                nPreload < 0             ? "received"
                    : nPreload == 0      ? "empty"
                    : nPreload == g_nGiB ? "1 GiB"
                                         : "10 MB",
                bLines ? "80-byte lines" : "no break,", dRate / 1e6, 1e9 / dRate,
                dRate / g_dTargetRate, 100 * g_dTargetRate / dRate, dFrameMs);
            std::fflush(stdout);
        }
    }
    return 0;
}

void Key(CBremView& view, int nKey)
{
    QKeyEvent press(QEvent::KeyPress, nKey, Qt::ControlModifier);
    QCoreApplication::sendEvent(&view, &press);
    view.viewport()->repaint();
}

// Child: the 1 GiB operations, each beside a raw read or write of the same bytes.
int RunBig(const QString& strDir)
{
    const QString strIn = strDir + QStringLiteral("/bench-1g.log");
    const QString strOut = strDir + QStringLiteral("/bench-1g-saved.log");
    const QByteArray baChunk = Chunk(true);
    // Writes the log's bytes as a file: the reference for a save, and the file to open.
    const auto fnWrite = [&baChunk](const QString& strPath) {
        QFile file(strPath);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (int64_t n = 0; n < g_nGiB; n += baChunk.size())
            file.write(baChunk.constData(), std::min<int64_t>(baChunk.size(), g_nGiB - n));
        return file.flush();
    };
    if (!fnWrite(strIn))
        return 1;
    sync(); // nothing measured below waits for this file's write-back
    QElapsedTimer timer;
    {
        QFile file(strIn);
        file.open(QIODevice::ReadOnly);
        QByteArray baBuffer(1 << 20, Qt::Uninitialized);
        timer.restart();
        while (file.read(baBuffer.data(), baBuffer.size()) > 0) { }
    }
    const double dRawRead = Ms(timer);

    CBremView view;
    Show(view);
    CBremDoc doc(&view, nullptr);
    QString strError;
    timer.restart();
    const bool bOpened = doc.OnOpenDocument(strIn, strError);
    view.FlushPending();
    view.viewport()->repaint();
    const double dOpen = Ms(timer);
    if (!bOpened) {
        std::printf("open failed: %s\n", qPrintable(strError));
        return 1;
    }
    timer.restart();
    Key(view, Qt::Key_End);
    const double dToEnd = Ms(timer);
    timer.restart();
    Key(view, Qt::Key_Home);
    const double dToTop = Ms(timer);
    timer.restart();
    Key(view, Qt::Key_End);
    const double dBack = Ms(timer);
    timer.restart();
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
    view.viewport()->repaint();
    const double dMiddle = Ms(timer);
    // A plain write of the same bytes in the same state, then the save.
    timer.restart();
    fnWrite(strOut);
    const double dRawWrite = Ms(timer);
    QFile::remove(strOut);
    sync();
    timer.restart();
    const bool bSaved = doc.OnSaveDocument(strOut, strError);
    const double dSave = Ms(timer);
    const long nLoadedKb = ResidentKb();
    timer.restart();
    view.ClearLog();
    view.viewport()->repaint();
    const double dClear = Ms(timer);
    const bool bSame = bSaved && QFile(strOut).size() == g_nGiB;
    QFile::remove(strIn);
    QFile::remove(strOut);

    std::printf("1 GiB log (80-byte lines): open %.0f ms (raw read %.0f ms, %.1f x), save %.0f ms "
                "(raw write %.0f ms, %.1f x)%s\n",
        dOpen, dRawRead, dOpen / dRawRead, dSave, dRawWrite, dSave / dRawWrite,
        bSame ? "" : "  SAVE FAILED");
    std::printf("  end %.1f ms, to the top %.1f ms and back %.1f ms, middle by the scroll bar %.1f "
                "ms, Clear %.1f ms; resident while loaded %ld MB (%.2f bytes per log byte)\n",
        dToEnd, dToTop, dBack, dMiddle, dClear, nLoadedKb / 1024, nLoadedKb * 1024.0 / g_nGiB);
    return 0;
}

int RunChild(const QString& strArg, const QStringList& args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList { strArg } + args);
    child.waitForFinished(-1);
    return child.exitCode();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--memory"))
        return RunMemory(args[2].toLongLong());
    if (args.size() >= 2 && args[1] == QLatin1String("--ingest"))
        return RunIngest();
    if (args.size() >= 3 && args[1] == QLatin1String("--big"))
        return RunBig(args[2]);

    std::printf("log view: resident memory over the idle view for a received log (goal <= 2)\n");
    std::fflush(stdout);
    for (int64_t nBytes : { int64_t(10000000), int64_t(100000000), g_nGiB })
        RunChild(QStringLiteral("--memory"), { QString::number(nBytes) });
    std::printf("\nlog view: append rate, one call per byte, frames painted (goal: tiny beside "
                "a 1 MB/s hand-over); \"received\": an empty log, line ends as received\n");
    std::fflush(stdout);
    RunChild(QStringLiteral("--ingest"), {});
    std::printf("\nlog view: with 1 GiB (goal: each under a second)\n");
    std::fflush(stdout);
    RunChild(QStringLiteral("--big"),
        { args.size() >= 2 ? args[1] : QDir::tempPath() }); // where 2 GiB of files may go
    return 0;
}
