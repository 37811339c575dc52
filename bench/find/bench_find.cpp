// Find through a 1 GiB log in the window, beside `grep -c` on the same file in the same run: the
// time from pressing Find Next to the answer (nothing found, so the whole log is looked at), for
// text, text without regard to case and hex bytes, over alternated rounds; and, while a search
// runs, how long a menu item (View > Timestamps) and a click on Clear take to show. Prints
// figures, never fails on time.
#include "../benchprompts.h"
#include "../gigabytelog.h"
#include "../waker.h"
#include "bremapp.h"
#include "bremdoc.h"
#include "bremview.h"
#include "controlbar.h"
#include "findbar.h"
#include "mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

bool WriteLog(const QString& strPath)
{
    const QByteArray ba = DeviceLines();
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (int64_t n = 0; n < g_nGiB; n += ba.size())
        file.write(ba.constData(), std::min<int64_t>(ba.size(), g_nGiB - n));
    return file.flush();
}

// Milliseconds that `grep -c [args] FILE` takes (its output to /dev/null); bytes (not text) in
// the C locale.
double GrepMs(const std::vector<std::string>& vecArgs, const std::string& strFile, bool bBytes)
{
    std::vector<std::string> vecEnv { bBytes ? "LC_ALL=C" : "LC_ALL=C.UTF-8" };
    for (char** pp = environ; *pp; ++pp)
        if (std::string(*pp).rfind("LC_ALL=", 0) != 0)
            vecEnv.emplace_back(*pp);
    std::vector<char*> vecEnvp;
    for (std::string& str : vecEnv)
        vecEnvp.push_back(str.data());
    vecEnvp.push_back(nullptr);
    std::vector<std::string> vecAll { "grep", "-c" };
    vecAll.insert(vecAll.end(), vecArgs.begin(), vecArgs.end());
    vecAll.push_back(strFile);
    std::vector<char*> vecArgv;
    for (std::string& str : vecAll)
        vecArgv.push_back(str.data());
    vecArgv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto tpStart = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "grep", &actions, nullptr, vecArgv.data(), vecEnvp.data()) != 0)
        return -1;
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double, std::milli>(Clock::now() - tpStart).count();
}

// Runs the event loop until fn holds.
template <class F> void RunUntil(F fn)
{
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (fn())
            loop.quit();
    });
    check.start();
    if (!fn())
        loop.exec();
}

struct SPattern {
    const char* m_szName;
    QString m_strText;
    bool m_bHex;
    bool m_bMatchCase;
    std::vector<std::string> m_vecGrep;
};

// Presses Find Next for the pattern and waits for the answer: ms.
double FindMs(CFindBar& bar, const SPattern& pattern)
{
    bar.m_pText->setText(pattern.m_strText);
    bar.m_pHex->setChecked(pattern.m_bHex);
    bar.m_pMatchCase->setChecked(pattern.m_bMatchCase);
    QElapsedTimer timer;
    timer.start();
    bar.FindNext();
    RunUntil([&bar] { return !bar.IsSearching(); });
    return timer.nsecsElapsed() / 1e6;
}

std::string List(const std::vector<double>& vec)
{
    std::string str;
    for (double d : vec)
        str += (str.empty() ? "" : ", ") + std::to_string(int(d + 0.5));
    return str.empty() ? "(none: the search ended first)" : str;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const SBenchArgs args = ParseBenchArgs(QApplication::arguments());
    const int nRounds = args.m_nRounds;
    const QString& strDir = args.m_strDir;
    CBenchPrompts prompts;
    CPrompts::SetInstance(&prompts);
    const QString strLog = strDir + QStringLiteral("/bench-find-1g.log");
    if (!WriteLog(strLog)) {
        std::printf("cannot write %s\n", qPrintable(strLog));
        return 1;
    }
    CBremApp theApp;
    if (!theApp.InitInstance({ QStringLiteral("brem") }))
        return 1;
    CMainFrame* pFrame = theApp.MainFrame();
    CBremView* pView = pFrame->GetActiveView();
    CFindBar& bar = *pFrame->m_pFindBar;
    QString strError;
    if (!theApp.Document()->OnOpenDocument(strLog, strError)) {
        std::printf("open failed: %s\n", qPrintable(strError));
        return 1;
    }
    bar.Open();

    const std::vector<SPattern> vecPatterns {
        { "text \"needle\"", QStringLiteral("needle"), false, true, { "needle" } },
        { "any case \"needle\"", QStringLiteral("needle"), false, false, { "-i", "needle" } },
        { "any case \"status\"", QStringLiteral("status"), false, false, { "-i", "status" } },
        { "hex DE AD BE EF", QStringLiteral("DE AD BE EF"), true, true,
            { "-a", std::string("\xde\xad\xbe\xef") } },
    };
    std::printf(
        "Find through a 1 GiB log of 80-byte lines (nothing found: all of it is looked at), "
        "from Find Next to the answer, beside grep -c on the same file (page cache warm), "
        "%d rounds\n",
        nRounds);
    std::printf("%-22s %8s %14s %9s %12s %9s\n", "pattern", "Brem ms", "grep UTF-8 ms", "x grep",
        "grep C ms", "x grep C");
    std::map<std::string, std::vector<double>> mapRatios;
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        for (const SPattern& pattern : vecPatterns) {
            // Alternated: grep first in even rounds, Brem first in odd ones. Hex bytes are no
            // text: grep looks for them in the C locale only.
            const auto grep = [&](double& dUtf8, double& dC) {
                dUtf8 = pattern.m_bHex ? 0 : GrepMs(pattern.m_vecGrep, strLog.toStdString(), false);
                dC = GrepMs(pattern.m_vecGrep, strLog.toStdString(), true);
            };
            double dUtf8 = 0;
            double dC = 0;
            double dBrem = 0;
            if (nRound % 2 == 0) {
                grep(dUtf8, dC);
                dBrem = FindMs(bar, pattern);
            } else {
                dBrem = FindMs(bar, pattern);
                grep(dUtf8, dC);
            }
            if (dUtf8 > 0)
                mapRatios[std::string(pattern.m_szName) + ", grep UTF-8"].push_back(dBrem / dUtf8);
            mapRatios[std::string(pattern.m_szName) + ", grep C"].push_back(dBrem / dC);
            std::printf("%-22s %8.0f %14s %9s %12.0f %9.2f  (%s)\n", pattern.m_szName, dBrem,
                dUtf8 > 0 ? std::to_string(int(dUtf8)).c_str() : "-",
                dUtf8 > 0 ? std::to_string(dBrem / dUtf8).substr(0, 4).c_str() : "-", dC,
                dBrem / dC, qPrintable(bar.m_pStatus->text()));
            std::fflush(stdout);
        }
    }
    std::printf("\nBrem / grep over the rounds (min - max):\n");
    for (const auto& [strName, vec] : mapRatios)
        std::printf("  %-36s %.2f - %.2f\n", strName.c_str(),
            *std::min_element(vec.begin(), vec.end()), *std::max_element(vec.begin(), vec.end()));

    // During a search of the whole log (any case, the slower kind): a menu item five times, then
    // Clear, each from the wake-up to its effect on screen.
    QAction* pTimes = nullptr;
    for (QAction* pAction : pFrame->findChildren<QAction*>())
        if (pAction->text() == QLatin1String("Timestamps(&M)"))
            pTimes = pAction;
    bar.m_pText->setText(QStringLiteral("needle"));
    bar.m_pMatchCase->setChecked(false);
    bar.m_pHex->setChecked(false);
    std::vector<double> vecMenu;
    {
        CWaker waker(
            pFrame,
            [&] {
                pTimes->trigger();
                pView->viewport()->repaint();
            },
            5, 150);
        while (waker.m_vecMs.size() < 5) {
            bar.FindNext();
            RunUntil([&] { return !bar.IsSearching() || waker.m_vecMs.size() >= 5; });
        }
        bar.Stop();
        vecMenu = waker.m_vecMs;
    }
    std::vector<double> vecClear;
    bool bStopped = false;
    {
        QPushButton* pClear = pFrame->m_pDlgBar->m_pClear;
        CWaker waker(
            pFrame,
            [&] {
                ClickNow(pClear);
                pView->viewport()->repaint();
            },
            1, 150);
        bar.FindNext();
        RunUntil([&] { return !waker.m_vecMs.empty(); });
        RunUntil([&] { return !bar.IsSearching(); });
        bStopped = pView->Store().Size() == 0 && bar.m_pStatus->text().contains("changed");
        vecClear = waker.m_vecMs;
    }
    std::printf("\nDuring a search (goal < 100 ms), ms from the wake-up to the effect on screen: "
                "View > Timestamps %s; Clear %s%s\n",
        List(vecMenu).c_str(), List(vecClear).c_str(),
        bStopped ? " (the search stopped: the log changed)" : "");
    QFile::remove(strLog);
    CPrompts::SetInstance(nullptr);
    return 0;
}
