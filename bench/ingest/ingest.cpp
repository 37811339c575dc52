// Terminal ingest: bytes per second that the window's log takes from the port while the
// simulator floods it, with the log empty, with 10 MB and with 1 GiB in it, for 80-byte lines and
// for a stream without line breaks, beside the bare per-byte delivery rate to a trivial Qt owner;
// and how long a click on Clear takes to show while the flood runs. Each figure comes from a
// fresh process so its resident memory is its own. Never fails on time.
#include "../residentmemory.h"
#include "../waker.h"
#include "bremview.h"
#include "childprocess.h"
#include "controlbar.h"
#include "mainframe.h"
#include "prompts.h"
#include "serialport.h"

#include <QApplication>
#include <QByteArray>
#include <QPushButton>
#include <QTimer>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What a run measured, handed to the parent as one line.
struct Result {
    long long m_nBytes = 0;
    double m_dSeconds = 0;
};

class CBenchPrompts : public CPrompts {
public:
    void MessageBox(QWidget*, const QString& strCaption, const QString& strText, bool) override
    {
        fprintf(stderr, "box: %s: %s\n", qPrintable(strCaption), qPrintable(strText));
    }
    QString OpenFileName(QWidget*, const QString&) override { return QString(); }
    QString SaveFileName(QWidget*) override { return QString(); }
};

// Counts deliveries from the first to the last byte of the flood.
class CByteClock {
public:
    explicit CByteClock(long long nExpected)
        : m_nExpected(nExpected)
    { }
    // True on the last byte.
    bool Count()
    {
        if (m_nCount++ == 0)
            m_tpFirst = Clock::now();
        return m_nCount == m_nExpected;
    }
    Result Stop()
    {
        Result r;
        r.m_nBytes = m_nCount;
        r.m_dSeconds = std::chrono::duration<double>(Clock::now() - m_tpFirst).count();
        return r;
    }

private:
    long long m_nExpected;
    long long m_nCount = 0;
    Clock::time_point m_tpFirst;
};

// The trivial owner: each byte crosses to the Qt thread and is counted, nothing more.
class CBareOwner : public QObject, public CSerialPortOwner {
public:
    explicit CBareOwner(long long nExpected)
        : m_clock(nExpected)
    { }
    void PostToOwner(std::function<void()> fn) override
    {
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
    }
    void OnPortNotification(unsigned nMessage, uintptr_t, intptr_t) override
    {
        if (nMessage == WM_COMM_RXCHAR && !m_bDone && m_clock.Count()) {
            m_result = m_clock.Stop();
            m_bDone = true;
            QCoreApplication::quit();
        }
    }
    CByteClock m_clock;
    Result m_result;
    bool m_bDone = false;
};

class CIngestFrame : public CMainFrame {
public:
    explicit CIngestFrame(long long nExpected)
        : m_clock(nExpected)
    { }
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override
    {
        CMainFrame::OnPortNotification(nMessage, wParam, lParam);
        if (nMessage == WM_COMM_RXCHAR && !m_bDone && m_clock.Count()) {
            // The last byte is in the log; it counts as taken in once it is on the screen.
            GetActiveView()->FlushPending();
            GetActiveView()->viewport()->repaint();
            m_result = m_clock.Stop();
            m_bDone = true;
            QCoreApplication::quit();
        }
    }
    CByteClock m_clock;
    Result m_result;
    bool m_bDone = false;
};

// Fills the log as if it had been received: 80-byte lines, each stamped as it arrives.
void Preload(CBremView& view, long long nBytes)
{
    QByteArray baChunk;
    while (baChunk.size() < 64 * 1024)
        baChunk += QByteArray(78, 'L') + "\r\n";
    const auto* p = reinterpret_cast<const unsigned char*>(baChunk.constData());
    for (long long nDone = 0; nDone < nBytes; nDone += baChunk.size())
        view.AppendRaw(p, uint32_t(std::min<long long>(baChunk.size(), nBytes - nDone)));
    view.FlushPending();
}

// Clicks Clear five times while the flood runs; each latency runs from the wake-up to the log on
// screen being empty.
std::unique_ptr<CWaker> ClickClear(CMainFrame& frame)
{
    return std::make_unique<CWaker>(
        &frame,
        [&frame] {
            ClickNow(frame.m_pDlgBar->m_pClear);
            frame.GetActiveView()->viewport()->repaint();
        },
        5, 250);
}

std::string Joined(const std::vector<double>& vecMs)
{
    std::string str;
    for (double d : vecMs)
        str += (str.empty() ? "" : ",") + std::to_string(d);
    return str;
}

// Child: one measurement, printed as "bytes=... seconds=... rss_kb=...".
int RunOne(int argc, char** argv, const std::string& strMode, const std::string& strKind,
    long long nBytes, long long nPreload)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string strDir = "/tmp/brem-bench-ingest-" + std::to_string(getpid());
    mkdir(strDir.c_str(), 0700);
    setenv("BREM_PORTS_DIR", strDir.c_str(), 1);
    CChildProcess sim;
    if (!sim.Start({ BREM_SIM_PATH, "--link", strDir + "/COM1", "--flood", std::to_string(nBytes),
            "--flood-kind", strKind, "--exit-after", "600" })) {
        fprintf(stderr, "brem-sim did not start\n");
        return 1;
    }
    sim.FirstLine(10s);

    QApplication app(argc, argv);
    CBenchPrompts prompts;
    CPrompts::SetInstance(&prompts);
    const unsigned char byTrigger = 'x';
    QTimer::singleShot(600000, qApp, &QCoreApplication::quit);
    Result result;
    long nResidentKb = 0;
    std::string strClicks;
    if (strMode == "bare") {
        CBareOwner owner(nBytes);
        CSerialPort port;
        port.InitPort(&owner, 1, 115200, 'N', 8, 1, EV_RXCHAR | EV_CTS, 8192);
        port.StartMonitoring();
        port.WriteToPort(&byTrigger, 1);
        QApplication::exec();
        result = owner.m_bDone ? owner.m_result : owner.m_clock.Stop();
        nResidentKb = ResidentKb();
        port.ClosePort();
    } else {
        CIngestFrame frame(nBytes);
        frame.show();
        Preload(*frame.GetActiveView(), nPreload);
        frame.OnOpenClose();
        std::unique_ptr<CWaker> pClicker;
        if (strMode == "click")
            pClicker = ClickClear(frame);
        frame.WriteToPort(&byTrigger, 1);
        QApplication::exec();
        result = frame.m_bDone ? frame.m_result : frame.m_clock.Stop();
        nResidentKb = ResidentKb();
        frame.OnOpenClose();
        if (pClicker) {
            strClicks = Joined(pClicker->m_vecMs);
            pClicker.reset();
        }
    }
    printf("bytes=%lld seconds=%.3f rss_kb=%ld clicks=%s\n", result.m_nBytes, result.m_dSeconds,
        nResidentKb, strClicks.c_str());
    CPrompts::SetInstance(nullptr);
    sim.Signal(SIGTERM);
    sim.Wait(10s);
    unlink((strDir + "/COM1").c_str());
    rmdir(strDir.c_str());
    return 0;
}

double Field(const std::string& strOut, const char* pszKey)
{
    size_t n = strOut.find(std::string(pszKey) + "=");
    return n == std::string::npos ? -1 : atof(strOut.c_str() + n + strlen(pszKey) + 1);
}

// One child run: its rate and its output.
struct ChildRun {
    double m_dRate = 0;
    bool m_bComplete = false;
    std::string m_strOut;
};

ChildRun RunChild(const char* pszSelf, const char* pszMode, const char* pszKind, long long nBytes,
    long long nPreload)
{
    CChildProcess child;
    child.Start({ pszSelf, "--run", pszMode, pszKind, std::to_string(nBytes),
        std::to_string(nPreload), "child" });
    child.Wait(700s);
    ChildRun run;
    run.m_strOut = child.Out();
    const double dSeconds = Field(run.m_strOut, "seconds");
    const double dCount = Field(run.m_strOut, "bytes");
    run.m_dRate = dSeconds > 0 ? dCount / dSeconds : 0;
    run.m_bComplete = dCount >= static_cast<double>(nBytes);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 7 && std::string(argv[1]) == "--run")
        return RunOne(1, argv, argv[2], argv[3], atoll(argv[4]), atoll(argv[5]));

    long long nBytes = 1 << 20;
    int nRounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--bytes")
            nBytes = atoll(argv[i + 1]);
        else if (std::string(argv[i]) == "--rounds")
            nRounds = std::max(1, atoi(argv[i + 1]));
    }
    printf("terminal ingest, %lld flooded bytes per run, %d rounds; each window run right after "
           "its own bare run (goal: window >= 0.9 x bare with 10 MB and with 1 GiB in the log)\n",
        nBytes, nRounds);
    printf("%-7s %-9s %12s %12s %8s %9s\n", "payload", "log", "bare B/s", "window B/s", "x bare",
        "rss MB");
    const long long nGiB = 1LL << 30;
    const long long anPreloads[] = { 0, 10000000, nGiB };
    const char* const apszKinds[] = { "lines", "binary" };
    std::map<std::string, std::pair<double, double>> mapRange; // payload and log: min, max ratio
    const auto name = [nGiB](long long nPreload) {
        return nPreload == 0 ? "empty" : nPreload == nGiB ? "1 GiB" : "10 MB";
    };
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        for (const char* pszKind : apszKinds) {
            for (long long nPreload : anPreloads) {
                const ChildRun bare = RunChild(argv[0], "bare", pszKind, nBytes, 0);
                const ChildRun window = RunChild(argv[0], "window", pszKind, nBytes, nPreload);
                const double dRatio = bare.m_dRate > 0 ? window.m_dRate / bare.m_dRate : 0;
                printf("%-7s %-9s %12.0f %12.0f %8.2f %9.1f%s\n", pszKind, name(nPreload),
                    bare.m_dRate, window.m_dRate, dRatio, Field(window.m_strOut, "rss_kb") / 1024,
                    bare.m_bComplete && window.m_bComplete ? "" : "  (incomplete)");
                fflush(stdout);
                auto it = mapRange.emplace(
                    std::string(pszKind) + " " + name(nPreload), std::make_pair(dRatio, dRatio));
                it.first->second.first = std::min(it.first->second.first, dRatio);
                it.first->second.second = std::max(it.first->second.second, dRatio);
            }
        }
    }
    printf("\nwindow / bare over the rounds (min - max):\n");
    for (const auto& [strKey, range] : mapRange)
        printf("  %-14s %.2f - %.2f\n", strKey.c_str(), range.first, range.second);

    const ChildRun click = RunChild(argv[0], "click", "lines", nBytes, nGiB);
    const size_t nAt = click.m_strOut.find("clicks=");
    std::string strClicks = nAt == std::string::npos ? "" : click.m_strOut.substr(nAt + 7);
    strClicks = strClicks.substr(0, strClicks.find_first_of("\r\n"));
    printf("Clear clicked during a flood of lines, 1 GiB in the log (goal < 100 ms), ms from the "
           "click's wake-up to the empty log on screen: %s\n",
        strClicks.empty() ? "(none: the flood ended first)" : strClicks.c_str());
    return 0;
}
