// Time from the device's acknowledgement to the first byte of the next frame, for a 1 MiB
// image, through brem-cli and through the window (offscreen). Prints figures; never fails on time.
#include "childprocess.h"
#include "simsummary.h"

#ifdef BREM_BENCH_WINDOW
#include "../benchprompts.h"
#include "mainframe.h"

#include <QApplication>
#include <QTimer>
#endif

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>

using namespace std::chrono_literals;

namespace {

constexpr size_t g_nImageBytes = 1 << 20;

std::string MakeImage(const std::string& strPath)
{
    std::mt19937 rng(1);
    std::string str(g_nImageBytes, '\0');
    for (char& c : str)
        c = static_cast<char>(rng() & 0xFF);
    std::ofstream(strPath, std::ios::binary) << str;
    return strPath;
}

void PrintRow(const char* pszHost, const std::map<std::string, std::string>& fields)
{
    auto get = [&](const char* pszKey) {
        auto it = fields.find(pszKey);
        return it == fields.end() ? std::string("?") : it->second;
    };
    printf("%-8s p50=%6s us  p99=%6s us  max=%6s us  samples=%s  frames=%s image=%s\n", pszHost,
        get("turnaround_p50_us").c_str(), get("turnaround_p99_us").c_str(),
        get("turnaround_max_us").c_str(), get("turnaround_samples").c_str(),
        get("frames_accepted").c_str(), get("image").c_str());
}

std::vector<std::string> SimArgs(const std::string& strLink)
{
    std::vector<std::string> argv
        = { BREM_SIM_PATH, "--stats", "--idle-ms", "300", "--exit-after", "120" };
    if (!strLink.empty()) {
        argv.push_back("--link");
        argv.push_back(strLink);
    }
    return argv;
}

std::map<std::string, std::string> StopSim(CChildProcess& sim)
{
    sim.Signal(SIGTERM);
    sim.Wait(10s);
    return SimSummary(sim.Out());
}

void RunCli(const std::string& strImage)
{
    CChildProcess sim;
    if (!sim.Start(SimArgs(""))) {
        printf("cli      brem-sim did not start\n");
        return;
    }
    std::string strDevice = sim.FirstLine(10s);
    CChildProcess cli;
    cli.Start({ BREM_CLI_PATH, "--port", strDevice, "--timeout", "30", strImage });
    int nStatus = cli.Wait(120s);
    if (nStatus != 0)
        fprintf(stderr, "brem-cli ended with %d:\n%s", nStatus, cli.Err().c_str());
    PrintRow("cli", StopSim(sim));
}

#ifdef BREM_BENCH_WINDOW

// Ends the event loop when the download is over, either way.
class CBenchFrame : public CMainFrame {
public:
    void AppendLine(const std::string& strText) override
    {
        CMainFrame::AppendLine(strText);
        if (m_engine.m_nState == STATE_TERMINAL
            && (strText == "DownLoad OK" || strText == "CheckSum Error"))
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
};

void RunWindow(const std::string& strImage, const std::string& strDir)
{
    // COM1 of the window is the simulator, through the ports directory.
    setenv("BREM_PORTS_DIR", strDir.c_str(), 1);
    CChildProcess sim;
    if (!sim.Start(SimArgs(strDir + "/COM1"))) {
        printf("window   brem-sim did not start\n");
        return;
    }
    sim.FirstLine(10s);

    CBenchPrompts prompts;
    CPrompts::SetInstance(&prompts);
    {
        CBenchFrame frame;
        frame.show();
        frame.OnOpenClose();
        frame.m_engine.m_strFilePath = strImage;
        frame.OnDown();
        QTimer::singleShot(120000, qApp, &QCoreApplication::quit);
        QApplication::exec();
        frame.OnOpenClose();
    }
    CPrompts::SetInstance(nullptr);
    PrintRow("window", StopSim(sim));
}

#endif

} // namespace

int main(int argc, char** argv)
{
    std::string strDir = "/tmp/brem-bench-turnaround-" + std::to_string(getpid());
    mkdir(strDir.c_str(), 0700);
    std::string strImage = MakeImage(strDir + "/image.bin");
    // Several runs each, alternated, so a busy moment of the machine shows as one odd row.
    int nRuns = 3;
    if (argc >= 3 && std::string(argv[1]) == "--runs")
        nRuns = std::max(1, atoi(argv[2]));
    printf("turnaround, ack -> first byte of the next frame, 1 MiB image (goal p99 <= 1000 us)\n");
#ifdef BREM_BENCH_WINDOW
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    for (int i = 0; i < nRuns; ++i) {
        RunCli(strImage);
        RunWindow(strImage, strDir);
    }
#else
    for (int i = 0; i < nRuns; ++i)
        RunCli(strImage);
    (void)argc;
    (void)argv;
    printf("window   not built (configure with the GUI)\n");
#endif
    unlink(strImage.c_str());
    unlink((strDir + "/COM1").c_str());
    rmdir(strDir.c_str());
    return 0;
}
