// The terminal at device speed, side by side in one run: flood rates beside a `dd bs=1` reader of
// the same flood, CPU on a stream paced at 115200 baud and with the line idle, how soon a click
// takes effect during a flood, and the download turnaround. Every figure comes from a fresh
// process. Prints figures; never fails on time.
//
//   bench_terminal [--bytes N] [--rounds R] [--seconds S] [--no-turnaround]
//   bench_terminal --sweep     hand-over spin budgets against flood rate and paced CPU
#include "../benchprompts.h"
#include "bremview.h"
#include "childprocess.h"
#include "controlbar.h"
#include "mainframe.h"
#include "serialport.h"

#include <QApplication>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned g_nPacedBaud = 115200;
constexpr long long g_nPacedBytesPerSec = g_nPacedBaud / 10;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds(int nWho)
{
    rusage ru {};
    getrusage(nWho, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
        + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Field(const std::string& strOut, const char* pszKey)
{
    const std::string strKey = std::string(" ") + pszKey + "=";
    const size_t n = (" " + strOut).find(strKey);
    return n == std::string::npos ? -1 : atof(strOut.c_str() + n + strKey.size() - 1);
}

// "monitor_spin_ns,owner_spin_ns,slice_us,gather_us" for the hand-over; anything else keeps
// the defaults.
void ApplyBudget(const std::string& strBudget)
{
    unsigned nMonitor = 0, nOwner = 0, nSlice = 0, nGather = 0;
    if (sscanf(strBudget.c_str(), "%u,%u,%u,%u", &nMonitor, &nOwner, &nSlice, &nGather) == 4) {
        CPortMailbox::SetBudget({ nMonitor, nOwner, nSlice });
        CSerialPort::SetStreamGatherMicros(nGather);
    }
}

// brem-sim behind COM1 of a private ports directory.
class CSimPort {
public:
    bool Start(const std::vector<std::string>& args)
    {
        m_strDir = "/tmp/brem-bench-terminal-" + std::to_string(getpid());
        mkdir(m_strDir.c_str(), 0700);
        setenv("BREM_PORTS_DIR", m_strDir.c_str(), 1);
        std::vector<std::string> argv = { BREM_SIM_PATH, "--link", Link(), "--exit-after", "900" };
        argv.insert(argv.end(), args.begin(), args.end());
        return m_sim.Start(argv) && !m_sim.FirstLine(10s).empty();
    }
    ~CSimPort()
    {
        m_sim.Signal(SIGTERM);
        m_sim.Wait(10s);
        unlink(Link().c_str());
        rmdir(m_strDir.c_str());
    }
    std::string Link() const { return m_strDir + "/COM1"; }

private:
    std::string m_strDir;
    CChildProcess m_sim;
};

std::vector<std::string> FloodArgs(const std::string& strKind, long long nBytes)
{
    return { "--flood", std::to_string(nBytes), "--flood-kind", strKind };
}

std::vector<std::string> PacedArgs(double dSeconds)
{
    const long long nBytes = static_cast<long long>((dSeconds + 30) * g_nPacedBytesPerSec);
    return { "--baud", std::to_string(g_nPacedBaud), "--flood", std::to_string(nBytes) };
}

// ---- children that read with dd ----

// dd bs=1 on the port: one read call per byte and no hand-over at all.
int RunDd(const std::vector<std::string>& simArgs, long long nBytes)
{
    CSimPort sim;
    if (!sim.Start(simArgs))
        return 1;
    const int hPort = open(sim.Link().c_str(), O_RDWR | O_NOCTTY);
    const unsigned char byTrigger = 'x';
    if (hPort < 0 || write(hPort, &byTrigger, 1) != 1)
        return 1;
    const double dCpu = CpuSeconds(RUSAGE_CHILDREN);
    const Clock::time_point tpStart = Clock::now();
    CChildProcess dd;
    dd.Start({ "/bin/dd", "if=" + sim.Link(), "of=/dev/null", "bs=1",
        "count=" + std::to_string(nBytes), "status=none" });
    const int nStatus = dd.Wait(900s);
    const double dSeconds = Seconds(Clock::now() - tpStart);
    // Reaped before the simulator, so the children's time is dd's alone.
    printf("bytes=%lld seconds=%.3f cpu=%.3f status=%d\n", nBytes, dSeconds,
        CpuSeconds(RUSAGE_CHILDREN) - dCpu, nStatus);
    close(hPort);
    return 0;
}

// ---- children with a Qt owner ----

// A trivial owner on the Qt thread: each byte is counted, nothing more.
class CBareOwner : public QObject, public CSerialPortOwner {
public:
    void PostToOwner(std::function<void()> fn) override
    {
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
    }
    void OnPortNotification(unsigned nMessage, uintptr_t, intptr_t) override
    {
        if (nMessage == WM_COMM_RXCHAR && m_fnByte)
            m_fnByte();
    }
    std::function<void()> m_fnByte;
};

class CTerminalFrame : public CMainFrame {
public:
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override
    {
        const Clock::time_point tpStart = Clock::now();
        CMainFrame::OnPortNotification(nMessage, wParam, lParam);
        m_dLongestMs = std::max(m_dLongestMs, Seconds(Clock::now() - tpStart) * 1000);
        if (nMessage == WM_COMM_RXCHAR && m_fnByte)
            m_fnByte();
    }
    std::function<void()> m_fnByte;
    double m_dLongestMs = 0; // the longest a notification took: the owner's own stalls
};

QByteArray Log(long long nBytes)
{
    QByteArray baLine(78, 'L');
    baLine += "\r\n";
    QByteArray ba;
    ba.reserve(static_cast<qsizetype>(nBytes));
    while (ba.size() < nBytes)
        ba += baLine;
    return ba;
}

// Counts bytes from the first on; quits the event loop at nExpected.
struct SByteCount {
    long long nExpected = 0;
    long long nCount = 0;
    Clock::time_point tpFirst, tpLast;
    void Count()
    {
        if (nCount++ == 0)
            tpFirst = Clock::now();
        if (nCount == nExpected) {
            tpLast = Clock::now();
            QCoreApplication::quit();
        }
    }
    void Print() const
    {
        const Clock::time_point tpEnd = nCount >= nExpected ? tpLast : Clock::now();
        printf("bytes=%lld seconds=%.3f\n", nCount, nCount ? Seconds(tpEnd - tpFirst) : 0.0);
    }
};

// A window with port COM1 open, and a trigger byte sent so that the simulator starts.
struct SWindow {
    CBenchPrompts prompts;
    CTerminalFrame frame;
    SWindow()
    {
        CPrompts::SetInstance(&prompts);
        frame.show();
    }
    ~SWindow()
    {
        if (frame.m_bPortOpen)
            frame.OnOpenClose();
        CPrompts::SetInstance(nullptr);
    }
    void Open()
    {
        frame.OnOpenClose();
        const unsigned char byTrigger = 'x';
        frame.WriteToPort(&byTrigger, 1);
    }
};

// The bare hand-over on COM1 until the application quits; one byte wakes the simulator.
void RunBare(std::function<void()> fnByte)
{
    CBareOwner owner;
    owner.m_fnByte = std::move(fnByte);
    CSerialPort port;
    port.InitPort(&owner, 1, g_nPacedBaud, 'N', 8, 1, EV_RXCHAR | EV_CTS, 8192);
    port.StartMonitoring();
    const unsigned char byTrigger = 'x';
    port.WriteToPort(&byTrigger, 1);
    QApplication::exec();
}

int RunFlood(bool bWindow, const std::string& strKind, long long nBytes, long long nPreload)
{
    CSimPort sim;
    if (!sim.Start(FloodArgs(strKind, nBytes)))
        return 1;
    SByteCount count;
    count.nExpected = nBytes;
    QTimer::singleShot(600s, qApp, &QCoreApplication::quit);
    if (!bWindow) {
        RunBare([&] { count.Count(); });
        count.Print();
        return 0;
    }
    SWindow window;
    if (nPreload > 0)
        window.frame.GetActiveView()->SetLogBytes(Log(nPreload));
    window.frame.m_fnByte = [&] {
        // Until the log holds it, the last byte has not been taken in.
        if (count.nCount + 1 == count.nExpected)
            window.frame.GetActiveView()->FlushPending();
        count.Count();
    };
    window.Open();
    QApplication::exec();
    count.Print();
    return 0;
}

// CPU of this whole process (both threads) over dSeconds, after a second to settle.
int RunCpu(bool bWindow, bool bPaced, double dSeconds)
{
    CSimPort sim;
    if (!sim.Start(bPaced ? PacedArgs(dSeconds) : std::vector<std::string> {}))
        return 1;
    long long nBytes = 0;
    double dCpu = 0;
    long long nBytesAtStart = 0;
    Clock::time_point tpStart;
    QTimer::singleShot(1s, qApp, [&] {
        dCpu = CpuSeconds(RUSAGE_SELF);
        nBytesAtStart = nBytes;
        tpStart = Clock::now();
        QTimer::singleShot(std::chrono::milliseconds(static_cast<int>(dSeconds * 1000)), qApp,
            &QCoreApplication::quit);
    });
    auto print = [&] {
        printf("cpu=%.4f seconds=%.3f bytes=%lld\n", CpuSeconds(RUSAGE_SELF) - dCpu,
            Seconds(Clock::now() - tpStart), nBytes - nBytesAtStart);
    };
    if (!bWindow) {
        RunBare([&] { ++nBytes; });
        print();
        return 0;
    }
    SWindow window;
    window.frame.m_fnByte = [&] { ++nBytes; };
    window.Open();
    QApplication::exec();
    print();
    return 0;
}

// Round trips through the hand-over: the device sends one byte, the owner answers it with one
// (as the engine answers an acknowledgement with the next frame). Microseconds, p50 and p99.
int RunEcho(int nRounds)
{
    int hMaster = -1, hSlave = -1;
    char szName[128] = {};
    if (openpty(&hMaster, &hSlave, szName, nullptr, nullptr) < 0)
        return 1;
    CBareOwner owner;
    CSerialPort port;
    owner.m_fnByte = [&] {
        const unsigned char byAnswer = 'a';
        port.WriteToPort(&byAnswer, 1);
    };
    if (!port.InitPort(&owner, szName, 1, g_nPacedBaud, 'N', 8, 1, EV_RXCHAR | EV_CTS, 8192)
        || !port.StartMonitoring())
        return 1;
    std::vector<double> micros;
    std::thread device([&] {
        unsigned char by = 0;
        const unsigned char bySync = 'S';
        // Past the purge at the thread's start: its answer comes back once it is running.
        for (;;) {
            pollfd pfd = { hMaster, POLLIN, 0 };
            if (write(hMaster, &bySync, 1) != 1 || poll(&pfd, 1, 100) > 0)
                break;
        }
        if (read(hMaster, &by, 1) != 1)
            return;
        for (int i = 0; i < nRounds; ++i) {
            const Clock::time_point tp = Clock::now();
            pollfd pfd = { hMaster, POLLIN, 0 };
            if (write(hMaster, &by, 1) != 1 || poll(&pfd, 1, 5000) <= 0
                || read(hMaster, &by, 1) != 1)
                break;
            micros.push_back(Seconds(Clock::now() - tp) * 1e6);
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::exec();
    device.join();
    port.ClosePort();
    close(hMaster);
    close(hSlave);
    std::sort(micros.begin(), micros.end());
    printf("n=%zu p50=%.1f p99=%.1f\n", micros.size(),
        micros.empty() ? -1 : micros[micros.size() / 2],
        micros.empty() ? -1 : micros[micros.size() * 99 / 100]);
    return 0;
}

// Clicks on Clear and on a menu during a full-speed flood: milliseconds from the click being
// queued to its effect (the log emptied, the menu about to show).
int RunClicks(int nClicks)
{
    CSimPort sim;
    if (!sim.Start(FloodArgs("lines", 4000000000LL)))
        return 1;
    SWindow window;
    long long nBytes = 0;
    window.frame.m_fnByte = [&] { ++nBytes; };
    QMenu* pMenu = window.frame.menuBar()->addMenu(QStringLiteral("File"));
    pMenu->addAction(QStringLiteral("Exit"));
    Clock::time_point tpClick;
    std::vector<double> clear, menu;
    QObject::connect(window.frame.m_pDlgBar->m_pClear, &QPushButton::clicked,
        [&] { clear.push_back(Seconds(Clock::now() - tpClick) * 1000); });
    QObject::connect(pMenu, &QMenu::aboutToShow, [&] {
        menu.push_back(Seconds(Clock::now() - tpClick) * 1000);
        QTimer::singleShot(20ms, pMenu, &QMenu::close);
    });
    auto click = [](QWidget* pWidget, QPoint pt) {
        for (QEvent::Type eType : { QEvent::MouseButtonPress, QEvent::MouseButtonRelease }) {
            QCoreApplication::postEvent(pWidget,
                new QMouseEvent(eType, pt, pWidget->mapToGlobal(pt), Qt::LeftButton,
                    eType == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                    Qt::NoModifier));
        }
    };
    int nDone = 0;
    long long nBytesAtFirst = 0;
    Clock::time_point tpFirst;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (nDone == 0) {
            nBytesAtFirst = nBytes;
            tpFirst = Clock::now();
        }
        if (nDone == nClicks) {
            QCoreApplication::quit();
            return;
        }
        tpClick = Clock::now();
        if (nDone++ % 2 == 0) {
            QPushButton* pClear = window.frame.m_pDlgBar->m_pClear;
            click(pClear, pClear->rect().center());
        } else {
            QMenuBar* pBar = window.frame.menuBar();
            click(pBar, pBar->actionGeometry(pMenu->menuAction()).center());
        }
    });
    window.Open();
    QTimer::singleShot(1s, [&] { timer.start(300); });
    QTimer::singleShot(120s, qApp, &QCoreApplication::quit);
    QApplication::exec();
    auto stats = [](std::vector<double> v, const char* pszName) {
        std::sort(v.begin(), v.end());
        printf("%s_n=%zu %s_median=%.1f %s_max=%.1f ", pszName, v.size(), pszName,
            v.empty() ? -1 : v[v.size() / 2], pszName, v.empty() ? -1 : v.back());
    };
    stats(clear, "clear");
    stats(menu, "menu");
    printf("rate=%.0f longest=%.1f\n", (nBytes - nBytesAtFirst) / Seconds(Clock::now() - tpFirst),
        window.frame.m_dLongestMs);
    return 0;
}

int RunChild(int argc, char** argv)
{
    const std::string strMode = argv[2];
    if (strMode == "dd")
        return RunDd(FloodArgs("lines", atoll(argv[3])), atoll(argv[3]));
    if (strMode == "dd-paced") {
        const double dSeconds = atof(argv[3]);
        return RunDd(PacedArgs(dSeconds), static_cast<long long>(dSeconds * g_nPacedBytesPerSec));
    }
    ApplyBudget(argv[argc - 1]);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int nQtArgc = 1;
    QApplication app(nQtArgc, argv);
    if (strMode == "bare" || strMode == "window")
        return RunFlood(strMode == "window", argv[3], atoll(argv[4]), atoll(argv[5]));
    if (strMode == "cpu")
        return RunCpu(
            std::string(argv[3]) == "window", std::string(argv[4]) == "paced", atof(argv[5]));
    if (strMode == "clicks")
        return RunClicks(atoi(argv[3]));
    if (strMode == "echo")
        return RunEcho(atoi(argv[3]));
    return 2;
}

// ---- the parent: runs the children and prints ----

std::string g_strSelf;

std::string Child(std::vector<std::string> args, const std::string& strBudget = "default")
{
    args.insert(args.begin(), { g_strSelf, "--child" });
    args.push_back(strBudget);
    CChildProcess child;
    child.Start(args);
    child.Wait(900s);
    if (child.Out().empty())
        fprintf(stderr, "%s failed:\n%s", args[2].c_str(), child.Err().c_str());
    return child.Out();
}

double Rate(const std::string& strOut)
{
    const double dSeconds = Field(strOut, "seconds");
    return dSeconds > 0 ? Field(strOut, "bytes") / dSeconds : 0;
}

double CpuPercent(const std::string& strOut)
{
    const double dSeconds = Field(strOut, "seconds");
    return dSeconds > 0 ? 100 * Field(strOut, "cpu") / dSeconds : -1;
}

struct SRange {
    std::vector<double> values;
    void Add(double d) { values.push_back(d); }
    std::string Text(const char* pszFormat) const
    {
        if (values.empty())
            return "-";
        char szLow[32], szHigh[32];
        snprintf(szLow, sizeof szLow, pszFormat, *std::min_element(values.begin(), values.end()));
        snprintf(szHigh, sizeof szHigh, pszFormat, *std::max_element(values.begin(), values.end()));
        return values.size() == 1 || std::string(szLow) == szHigh
            ? szLow
            : std::string(szLow) + " .. " + szHigh;
    }
};

void PrintRow(const char* pszName, const SRange& value, const char* pszFormat, const SRange& ratio,
    const char* pszGoal)
{
    printf("  %-34s %24s   %-14s %s\n", pszName, value.Text(pszFormat).c_str(),
        ratio.values.empty() ? "" : ("x " + ratio.Text("%.2f")).c_str(), pszGoal);
}

void Rates(long long nBytes, int nRounds)
{
    printf("flood rates, %lld bytes a run, %d alternated rounds (B/s, x the dd bs=1 reader of "
           "the same round)\n",
        nBytes, nRounds);
    SRange dd, bare, lines, binary, rBare, rLines, rBinary;
    for (int i = 0; i < nRounds; ++i) {
        const double dDd = Rate(Child({ "dd", std::to_string(nBytes) }));
        dd.Add(dDd);
        struct {
            const char* pszMode;
            const char* pszKind;
            const char* pszPreload;
            SRange* pRate;
            SRange* pRatio;
        } runs[] = { { "bare", "lines", "0", &bare, &rBare },
            { "window", "lines", "10000000", &lines, &rLines },
            { "window", "binary", "10000000", &binary, &rBinary } };
        for (const auto& run : runs) {
            const double dRate
                = Rate(Child({ run.pszMode, run.pszKind, std::to_string(nBytes), run.pszPreload }));
            run.pRate->Add(dRate);
            if (dDd > 0)
                run.pRatio->Add(dRate / dDd);
        }
    }
    PrintRow("dd bs=1 reader", dd, "%.0f", SRange {}, "");
    PrintRow("bare hand-over to a Qt owner", bare, "%.0f", rBare, "goal >= 1200000");
    PrintRow("window, 10 MB log, 80-byte lines", lines, "%.0f", rLines, "goal >= 1000000");
    PrintRow("window, 10 MB log, no line breaks", binary, "%.0f", rBinary, "goal >= 1000000");
}

void Cpu(double dSeconds, int nRounds)
{
    printf("CPU, %% of one core over %.0f s (%u baud paced by brem-sim: %lld B/s)\n", dSeconds,
        g_nPacedBaud, g_nPacedBytesPerSec);
    SRange dd, window, bare, idle;
    const std::string strSeconds = std::to_string(dSeconds);
    for (int i = 0; i < nRounds; ++i) {
        dd.Add(CpuPercent(Child({ "dd-paced", strSeconds })));
        window.Add(CpuPercent(Child({ "cpu", "window", "paced", strSeconds })));
        bare.Add(CpuPercent(Child({ "cpu", "bare", "paced", strSeconds })));
        idle.Add(CpuPercent(Child({ "cpu", "window", "idle", strSeconds })));
    }
    PrintRow("dd bs=1 reader, paced", dd, "%.1f", SRange {}, "");
    PrintRow("bare hand-over, paced", bare, "%.1f", SRange {}, "");
    PrintRow("window, paced", window, "%.1f", SRange {}, "goal <= 10");
    PrintRow("window, idle, port open", idle, "%.2f", SRange {}, "goal about 0");
}

void Clicks()
{
    printf("a click during a full-speed flood (ms from the click being queued to its effect)\n");
    const std::string strOut = Child({ "clicks", "12" });
    printf("  Clear: median %.1f, max %.1f of %.0f;  menu: median %.1f, max %.1f of %.0f   "
           "goal <= 100\n",
        Field(strOut, "clear_median"), Field(strOut, "clear_max"), Field(strOut, "clear_n"),
        Field(strOut, "menu_median"), Field(strOut, "menu_max"), Field(strOut, "menu_n"));
    printf("  flood meanwhile %.0f B/s; the longest one notification took in the window: %.1f ms\n",
        Field(strOut, "rate"), Field(strOut, "longest"));
}

void Turnaround(int nRuns)
{
    printf("turnaround (bench_turnaround --runs %d, cli and window alternated)\n", nRuns);
    CChildProcess child;
    child.Start({ BENCH_TURNAROUND_PATH, "--runs", std::to_string(nRuns) });
    child.Wait(1800s);
    int nWindow = 0, nMet = 0;
    size_t nPos = 0;
    const std::string& strOut = child.Out();
    for (size_t nEnd; (nEnd = strOut.find('\n', nPos)) != std::string::npos; nPos = nEnd + 1) {
        const std::string strLine = strOut.substr(nPos, nEnd - nPos);
        printf("  %s\n", strLine.c_str());
        if (strLine.rfind("window", 0) == 0 && Field(strLine, "p99") >= 0) {
            ++nWindow;
            nMet += atof(strLine.c_str() + strLine.find("p99=") + 4) <= 1000;
        }
    }
    printf("  window p99 <= 1000 us in %d of %d runs\n", nMet, nWindow);
}

// Which budgets: flood rates, paced CPU and click latency for each.
void Sweep(long long nBytes, double dSeconds)
{
    printf("hand-over budgets: monitor spin ns, owner spin ns, slice us, gather us\n");
    printf("  %-24s %10s %10s %9s %9s %9s %9s %9s\n", "budget", "bare B/s", "window B/s", "bare %",
        "window %", "click ms", "echo p50", "echo p99");
    const std::string strSeconds = std::to_string(dSeconds);
    const std::string strBytes = std::to_string(nBytes);
    for (const char* pszBudget :
        { "0,0,4000,1000", "5000,5000,4000,1000", "20000,20000,4000,1000", "20000,50000,4000,1000",
            "50000,100000,4000,1000", "20000,50000,4000,0", "20000,50000,4000,500",
            "20000,50000,4000,2000", "20000,50000,1000,1000", "20000,50000,16000,1000" }) {
        const double dBare = Rate(Child({ "bare", "lines", strBytes, "0" }, pszBudget));
        const double dWindow = Rate(Child({ "window", "lines", strBytes, "0" }, pszBudget));
        const double dBareCpu
            = CpuPercent(Child({ "cpu", "bare", "paced", strSeconds }, pszBudget));
        const double dWindowCpu
            = CpuPercent(Child({ "cpu", "window", "paced", strSeconds }, pszBudget));
        const double dClick = Field(Child({ "clicks", "8" }, pszBudget), "clear_max");
        const std::string strEcho = Child({ "echo", "3000" }, pszBudget);
        printf("  %-24s %10.0f %10.0f %9.1f %9.1f %9.1f %9.1f %9.1f\n", pszBudget, dBare, dWindow,
            dBareCpu, dWindowCpu, dClick, Field(strEcho, "p50"), Field(strEcho, "p99"));
        fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::string(argv[1]) == "--child")
        return RunChild(argc, argv);
    g_strSelf = argv[0];
    long long nBytes = 2 << 20;
    int nRounds = 3;
    double dSeconds = 5;
    bool bTurnaround = true, bSweep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--bytes" && i + 1 < argc)
            nBytes = atoll(argv[++i]);
        else if (strArg == "--rounds" && i + 1 < argc)
            nRounds = std::max(1, atoi(argv[++i]));
        else if (strArg == "--seconds" && i + 1 < argc)
            dSeconds = atof(argv[++i]);
        else if (strArg == "--no-turnaround")
            bTurnaround = false;
        else if (strArg == "--sweep")
            bSweep = true;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (bSweep) {
        Sweep(nBytes, dSeconds);
        return 0;
    }
    Rates(nBytes, nRounds);
    Cpu(dSeconds, nRounds);
    Clicks();
    if (bTurnaround)
        Turnaround(9);
    return 0;
}
