// Start-up: process start to the window shown (offscreen), for Brem's real start-up beside a
// minimal QMainWindow with a status bar and a text view, alternated in the same run; and the
// resident memory once idle. Prints figures; never fails on time.
#include "../residentmemory.h"
#include "bremapp.h"
#include "childprocess.h"
#include "mainframe.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int g_nRuns = 10;
constexpr int g_nIdleMs = 1000;

long long MonotonicNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Prints the time since the parent started this process when the window is first exposed,
// then, after an idle second, the resident memory, and ends the program.
class CShownProbe : public QObject {
public:
    CShownProbe(QWidget* pWindow, long long nStartNs)
        : m_pWindow(pWindow)
        , m_nStartNs(nStartNs)
    {
        m_pWindow->winId();
        m_pWindow->windowHandle()->installEventFilter(this);
        if (m_pWindow->windowHandle()->isExposed())
            Shown();
    }

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Expose && m_pWindow->windowHandle()->isExposed())
            Shown();
        return QObject::eventFilter(pObject, pEvent);
    }

private:
    void Shown()
    {
        if (m_bShown)
            return;
        m_bShown = true;
        printf("shown_us=%lld\n", (MonotonicNs() - m_nStartNs) / 1000);
        fflush(stdout);
        QTimer::singleShot(g_nIdleMs, qApp, []() {
            printf("rss_kb=%ld\n", ResidentKb());
            fflush(stdout);
            QCoreApplication::quit();
        });
    }

    QWidget* m_pWindow;
    long long m_nStartNs;
    bool m_bShown = false;
};

int RunChild(int argc, char** argv, const std::string& strMode, long long nStartNs)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::unique_ptr<CBremApp> pBrem;
    std::unique_ptr<QMainWindow> pMinimal;
    QWidget* pWindow = nullptr;
    if (strMode == "brem") {
        pBrem = std::make_unique<CBremApp>();
        if (!pBrem->InitInstance(QStringList { QStringLiteral("brem") }))
            return 1;
        pWindow = pBrem->MainFrame();
    } else {
        pMinimal = std::make_unique<QMainWindow>();
        pMinimal->setCentralWidget(new QPlainTextEdit);
        pMinimal->statusBar()->showMessage(QStringLiteral("Ready"));
        pMinimal->show();
        pWindow = pMinimal.get();
    }
    CShownProbe probe(pWindow, nStartNs);
    return QApplication::exec();
}

long long Field(const std::string& strOut, const char* pszKey)
{
    size_t n = strOut.find(std::string(pszKey) + "=");
    return n == std::string::npos ? -1 : atoll(strOut.c_str() + n + strlen(pszKey) + 1);
}

long long Median(std::vector<long long> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::string(argv[1]) == "--child")
        return RunChild(1, argv, argv[2], atoll(argv[3]));

    std::vector<long long> shown[2];
    std::vector<long long> rss[2];
    const char* apszModes[2] = { "brem", "minimal" };
    // One warm-up of each, then alternate so both see the same machine.
    for (int nRun = -1; nRun < g_nRuns; ++nRun) {
        for (int m = 0; m < 2; ++m) {
            CChildProcess child;
            long long nStart = MonotonicNs();
            child.Start({ argv[0], "--child", apszModes[m], std::to_string(nStart) });
            child.Wait(30s);
            if (nRun < 0)
                continue;
            long long nShown = Field(child.Out(), "shown_us");
            if (nShown < 0) {
                fprintf(stderr, "%s did not show:\n%s", apszModes[m], child.Err().c_str());
                continue;
            }
            shown[m].push_back(nShown);
            rss[m].push_back(Field(child.Out(), "rss_kb"));
        }
    }
    printf("start-up to window shown, offscreen, median of %d (goal: brem <= 2x minimal; idle "
           "RSS <= 40 MB)\n",
        g_nRuns);
    for (int m = 0; m < 2; ++m) {
        printf("%-8s shown=%6.1f ms (min %6.1f)  idle_rss=%5.1f MB\n", apszModes[m],
            static_cast<double>(Median(shown[m])) / 1000,
            shown[m].empty()
                ? -1.0
                : static_cast<double>(*std::min_element(shown[m].begin(), shown[m].end())) / 1000,
            static_cast<double>(Median(rss[m])) / 1024);
    }
    if (Median(shown[1]) > 0)
        printf("ratio brem/minimal = %.2f\n",
            static_cast<double>(Median(shown[0])) / static_cast<double>(Median(shown[1])));
    return 0;
}
