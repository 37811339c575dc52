// Bytes per second the log view takes in when each byte arrives on its own, as the port's bytes
// do: by a queued call on the UI thread, and by a blocking call from another thread (the port
// monitor's way). Log empty and holding 10 MB; 80-byte lines and one endless line.
#include "bremview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

namespace {

using FnByte = std::function<void(unsigned char)>;

constexpr qsizetype g_nBigLog = 10 * 1024 * 1024;
constexpr int g_nQueuedBytes = 300000;
constexpr int g_nThreadBytes = 100000;

unsigned char StreamByte(bool bLines, int n)
{
    if (bLines && n % 80 == 78)
        return '\r';
    if (bLines && n % 80 == 79)
        return '\n';
    return static_cast<unsigned char>('!' + n % 90);
}

QByteArray Stream(bool bLines, qsizetype nSize)
{
    QByteArray ba(nSize, '\0');
    for (qsizetype i = 0; i < nSize; ++i)
        ba[i] = char(StreamByte(bLines, int(i % 1000000)));
    return ba;
}

double Rate(int nBytes, const QElapsedTimer& timer)
{
    return nBytes / (timer.nsecsElapsed() / 1e9);
}

// CPU time of the UI thread: a figure that other work on the machine does not disturb.
double ThreadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double g_dLastCpuPerByte = 0; // UI-thread CPU seconds per byte of the last queued delivery

// Each byte by its own queued call; the next is posted when the previous has been handled.
double DeliverQueued(const FnByte& fnByte, bool bLines)
{
    QEventLoop loop;
    int n = 0;
    std::function<void()> fnNext;
    fnNext = [&] {
        fnByte(StreamByte(bLines, n));
        if (++n == g_nQueuedBytes)
            loop.quit();
        else
            QMetaObject::invokeMethod(&loop, fnNext, Qt::QueuedConnection);
    };
    QElapsedTimer timer;
    timer.start();
    const double dCpu = ThreadCpuSeconds();
    QMetaObject::invokeMethod(&loop, fnNext, Qt::QueuedConnection);
    loop.exec();
    g_dLastCpuPerByte = (ThreadCpuSeconds() - dCpu) / g_nQueuedBytes;
    return Rate(g_nQueuedBytes, timer);
}

// Each byte by a blocking call from another thread, as the port monitor hands them over.
double DeliverFromThread(const FnByte& fnByte, bool bLines)
{
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    std::thread thread([&] {
        for (int n = 0; n < g_nThreadBytes; ++n) {
            const unsigned char nByte = StreamByte(bLines, n);
            QMetaObject::invokeMethod(
                &loop, [&fnByte, nByte] { fnByte(nByte); }, Qt::BlockingQueuedConnection);
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    thread.join();
    return Rate(g_nThreadBytes, timer);
}

long ResidentMb()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& baLine : file.readAll().split('\n'))
        if (baLine.startsWith("VmRSS:"))
            return baLine.mid(6).trimmed().split(' ').first().toLong() / 1024;
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    CBremView view;
    view.resize(800, 500);
    view.show();
    QApplication::processEvents();
    const FnByte fnNothing = [](unsigned char) {};
    const FnByte fnAppend = [&view](unsigned char n) { view.AppendRaw(&n, 1); };

    const double dBareQueued = DeliverQueued(fnNothing, true);
    const double dBareCpu = g_dLastCpuPerByte;
    const double dBareThread = DeliverFromThread(fnNothing, true);
    std::printf("bare delivery: queued %.0f bytes/s, blocking from a thread %.0f bytes/s\n",
        dBareQueued, dBareThread);

    for (bool bLines : { true, false }) {
        const char* pszKind = bLines ? "80-byte lines" : "no line break";
        for (bool bBig : { false, true }) {
            view.ClearLog();
            QElapsedTimer timer;
            timer.start();
            if (bBig) {
                view.SetLogBytes(Stream(bLines, g_nBigLog));
                view.moveCursor(QTextCursor::End);
                QApplication::processEvents();
            }
            const qint64 nLoadMs = timer.elapsed();
            const double dQueued = DeliverQueued(fnAppend, bLines);
            const double dViewCpu = g_dLastCpuPerByte - dBareCpu;
            const double dThread = DeliverFromThread(fnAppend, bLines);
            std::printf("%-6s log, %s: queued %.0f bytes/s (%.2f of bare), from a thread %.0f "
                        "bytes/s (%.2f of bare); the view's own UI-thread CPU %.2f us/byte\n",
                bBig ? "10 MB" : "empty", pszKind, dQueued, dQueued / dBareQueued, dThread,
                dThread / dBareThread, dViewCpu * 1e6);
            if (bBig) {
                timer.restart();
                const QByteArray baSaved = view.LogBytes();
                std::printf("  SetLogBytes(10 MB) %lld ms, LogBytes() of %.1f MB %lld ms, "
                            "VmRSS %ld MB\n",
                    static_cast<long long>(nLoadMs), baSaved.size() / 1048576.0,
                    static_cast<long long>(timer.elapsed()), ResidentMb());
            }
        }
    }
    return 0;
}
