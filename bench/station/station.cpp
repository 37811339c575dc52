// Eight devices flashed at once at 115200 baud (the simulator paces the wire) against one
// device alone in the same round: the eight should take hardly longer than the one, and cost
// little CPU each. Rounds alternate which run goes first. Prints figures; never fails on time.
#include "childprocess.h"
#include "simsummary.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct SRun {
    double dWallSec = 0; // brem-cli from start to exit
    double dCpuSec = 0; // brem-cli's user + system time
    double dDeviceSec = 0; // the slowest device: poll answer to last acknowledgement
    bool bAllExact = true;
    int nStatus = -1;
};

double Seconds(const timeval& tv)
{
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

double ChildrenCpuSec()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

SRun Flash(unsigned nDevices, const std::string& strImage, const std::string& strBytes)
{
    std::vector<std::unique_ptr<CChildProcess>> sims;
    std::vector<std::string> outs;
    std::vector<std::string> cliArgs = { BREM_CLI_PATH, "--baud", "115200", "--timeout", "30" };
    for (unsigned i = 0; i < nDevices; ++i) {
        outs.push_back(strImage + ".out" + std::to_string(i));
        sims.push_back(std::make_unique<CChildProcess>());
        sims.back()->Start({ BREM_SIM_PATH, "--stats", "--baud", "115200", "--idle-ms", "300",
            "--exit-after", "600", "--out", outs.back() });
        cliArgs.insert(cliArgs.end(), { "--port", sims.back()->FirstLine(10s) });
    }
    cliArgs.push_back(strImage);

    SRun run;
    // Only brem-cli is reaped in between: the simulators are still running.
    const double dCpuBefore = ChildrenCpuSec();
    const auto tpStart = std::chrono::steady_clock::now();
    CChildProcess cli;
    cli.Start(cliArgs);
    run.nStatus = cli.Wait(600s);
    run.dWallSec
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - tpStart).count();
    run.dCpuSec = ChildrenCpuSec() - dCpuBefore;
    if (run.nStatus != 0)
        fprintf(stderr, "brem-cli ended with %d:\n%s", run.nStatus, cli.Err().c_str());

    for (unsigned i = 0; i < nDevices; ++i) {
        sims[i]->Signal(SIGTERM);
        sims[i]->Wait(10s);
        const auto fields = SimSummary(sims[i]->Out());
        auto it = fields.find("download_us");
        if (it != fields.end())
            run.dDeviceSec = std::max(run.dDeviceSec, atof(it->second.c_str()) / 1e6);
        run.bAllExact = run.bAllExact && ReadFile(outs[i]) == strBytes;
        unlink(outs[i].c_str());
    }
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned nRounds = 3;
    unsigned nDevices = 8;
    size_t nKiB = 64;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--rounds"))
            nRounds = static_cast<unsigned>(atoi(argv[i + 1]));
        else if (!strcmp(argv[i], "--devices"))
            nDevices = static_cast<unsigned>(atoi(argv[i + 1]));
        else if (!strcmp(argv[i], "--kib"))
            nKiB = static_cast<size_t>(atoi(argv[i + 1]));
    }
    const std::string strImage = "/tmp/brem-bench-station-" + std::to_string(getpid()) + ".bin";
    std::string strBytes(nKiB * 1024, '\0');
    std::mt19937 rng(7);
    for (char& c : strBytes)
        c = static_cast<char>(rng() & 0xFF);
    std::ofstream(strImage, std::ios::binary) << strBytes;

    printf("%u devices at once vs 1 alone, %zu KiB at 115200 baud (goal: %u at once within 1.2 x "
           "one alone)\n",
        nDevices, nKiB, nDevices);
    double dRatioMin = 1e9, dRatioMax = 0, dCpuMin = 1e9, dCpuMax = 0;
    for (unsigned nRound = 0; nRound < nRounds; ++nRound) {
        SRun one, many;
        if (nRound % 2 == 0) {
            one = Flash(1, strImage, strBytes);
            many = Flash(nDevices, strImage, strBytes);
        } else {
            many = Flash(nDevices, strImage, strBytes);
            one = Flash(1, strImage, strBytes);
        }
        const double dRatio = many.dWallSec / one.dWallSec;
        const double dCpuPerDevice = many.dCpuSec / nDevices;
        dRatioMin = std::min(dRatioMin, dRatio);
        dRatioMax = std::max(dRatioMax, dRatio);
        dCpuMin = std::min(dCpuMin, dCpuPerDevice);
        dCpuMax = std::max(dCpuMax, dCpuPerDevice);
        printf("round %u: one %.2f s (device %.2f s, cpu %.3f s)  %u at once %.2f s (slowest "
               "device %.2f s, cpu %.3f s = %.3f s/device)  %u x one %.2f s  ratio %.3f  "
               "exact=%s status=%d/%d\n",
            nRound + 1, one.dWallSec, one.dDeviceSec, one.dCpuSec, nDevices, many.dWallSec,
            many.dDeviceSec, many.dCpuSec, dCpuPerDevice, nDevices, nDevices * one.dWallSec, dRatio,
            one.bAllExact && many.bAllExact ? "yes" : "NO", one.nStatus, many.nStatus);
        fflush(stdout);
    }
    printf("ratio (%u at once / one alone): %.3f .. %.3f; cpu per device: %.3f .. %.3f s\n",
        nDevices, dRatioMin, dRatioMax, dCpuMin, dCpuMax);
    unlink(strImage.c_str());
    return 0;
}
