// Terminal ingest: bytes per second that the window's log takes from the port while the
// simulator floods it, with the log empty and with 10 MB in it, for 80-byte lines and for a
// stream without line breaks, beside the bare per-byte delivery rate to a trivial Qt owner.
// Each figure comes from a fresh process so its resident memory is its own. Never fails on time.
#include "../residentmemory.h"
#include "bremview.h"
#include "childprocess.h"
#include "mainframe.h"
#include "prompts.h"
#include "serialport.h"

#include <QApplication>
#include <QByteArray>
#include <QTimer>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

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
            // Until the log holds it, the last byte has not been taken in.
            GetActiveView()->FlushPending();
            m_result = m_clock.Stop();
            m_bDone = true;
            QCoreApplication::quit();
        }
    }
    CByteClock m_clock;
    Result m_result;
    bool m_bDone = false;
};

QByteArray Log(long long nBytes)
{
    QByteArray baLine(78, 'L');
    baLine += "\r\n";
    QByteArray ba;
    ba.reserve(static_cast<int>(nBytes));
    while (ba.size() < nBytes)
        ba += baLine;
    return ba;
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
        if (nPreload > 0)
            frame.GetActiveView()->SetLogBytes(Log(nPreload));
        frame.show();
        frame.OnOpenClose();
        frame.WriteToPort(&byTrigger, 1);
        QApplication::exec();
        result = frame.m_bDone ? frame.m_result : frame.m_clock.Stop();
        nResidentKb = ResidentKb();
        frame.OnOpenClose();
    }
    printf("bytes=%lld seconds=%.3f rss_kb=%ld\n", result.m_nBytes, result.m_dSeconds, nResidentKb);
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

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 7 && std::string(argv[1]) == "--run")
        return RunOne(1, argv, argv[2], argv[3], atoll(argv[4]), atoll(argv[5]));

    long long nBytes = 1 << 20;
    if (argc >= 3 && std::string(argv[1]) == "--bytes")
        nBytes = atoll(argv[2]);
    printf("terminal ingest, %lld flooded bytes per run (goals: window >= 0.8 x bare and "
           ">= 25000 B/s with 10 MB in the log)\n",
        nBytes);
    printf("%-7s %-6s %-9s %12s %10s %10s\n", "payload", "host", "log", "rate B/s", "x bare",
        "rss MB");
    for (const char* pszKind : { "lines", "binary" }) {
        double dBare = 0;
        struct Run {
            const char* m_pszMode;
            long long m_nPreload;
        };
        for (Run run : { Run { "bare", 0 }, Run { "window", 0 }, Run { "window", 10000000 } }) {
            CChildProcess child;
            child.Start({ argv[0], "--run", run.m_pszMode, pszKind, std::to_string(nBytes),
                std::to_string(run.m_nPreload), "child" });
            child.Wait(700s);
            double dSeconds = Field(child.Out(), "seconds");
            double dCount = Field(child.Out(), "bytes");
            double dRate = dSeconds > 0 ? dCount / dSeconds : 0;
            if (std::string(run.m_pszMode) == "bare")
                dBare = dRate;
            printf("%-7s %-6s %-9s %12.0f %10.2f %10.1f%s\n", pszKind, run.m_pszMode,
                run.m_nPreload ? "10 MB" : "empty", dRate, dBare > 0 ? dRate / dBare : 0.0,
                Field(child.Out(), "rss_kb") / 1024,
                dCount < static_cast<double>(nBytes) ? "  (incomplete)" : "");
            fflush(stdout);
        }
    }
    return 0;
}
