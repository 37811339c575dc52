// Download efficiency on a paced wire: the simulator takes and sends one byte per 10 bit times
// at the rate of the run; the figure is the wire's own limit for the bytes the host sent over the
// time from the poll answer to the last acknowledgement. The rates alternate over several
// rounds, each beside 115200 from the same rounds. Prints figures; never fails on time.
#include "childprocess.h"
#include "simsummary.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr size_t g_nImageBytes = 256 * 1024;
constexpr int g_nRounds = 3;
const unsigned g_anRates[] = { 115200, 921600, 3000000 };

// The ratio of one download at nBaud, or a negative number when it failed.
double PacedRatio(const std::string& strImage, unsigned nBaud)
{
    const std::string strBaud = std::to_string(nBaud);
    CChildProcess sim;
    // The simulator also checks that the host opened the line at the rate it paces.
    if (!sim.Start({ BREM_SIM_PATH, "--stats", "--baud", strBaud, "--expect-baud", strBaud,
            "--idle-ms", "300", "--exit-after", "300" })) {
        fprintf(stderr, "brem-sim did not start\n");
        return -1;
    }
    std::string strDevice = sim.FirstLine(10s);
    CChildProcess cli;
    cli.Start(
        { BREM_CLI_PATH, "--port", strDevice, "--baud", strBaud, "--timeout", "30", strImage });
    int nStatus = cli.Wait(300s);
    sim.Signal(SIGTERM);
    sim.Wait(10s);
    std::map<std::string, std::string> fields = SimSummary(sim.Out());
    if (nStatus != 0 || fields["image"] != "ok" || fields["line"] != "ok") {
        fprintf(stderr, "at %u baud brem-cli ended with %d:\n%s%s", nBaud, nStatus,
            cli.Err().c_str(), sim.Out().c_str());
        return -1;
    }
    const double dWireBytes = atof(fields["wire_bytes"].c_str());
    const double dDownloadUs = atof(fields["download_us"].c_str());
    const double dLimitUs = dWireBytes * 10 / nBaud * 1e6;
    printf("  %7u baud: wire_bytes=%.0f wire_limit_us=%.0f download_us=%.0f ratio=%.4f\n", nBaud,
        dWireBytes, dLimitUs, dDownloadUs, dLimitUs / dDownloadUs);
    fflush(stdout);
    return dLimitUs / dDownloadUs;
}

} // namespace

int main()
{
    std::string strImage = "/tmp/brem-bench-paced-" + std::to_string(getpid()) + ".bin";
    {
        std::mt19937 rng(2);
        std::string str(g_nImageBytes, '\0');
        for (char& c : str)
            c = static_cast<char>(rng() & 0xFF);
        std::ofstream(strImage, std::ios::binary) << str;
    }

    printf("paced download, 256 KiB through brem-cli, %d alternated rounds (goal >= 0.99)\n",
        g_nRounds);
    std::map<unsigned, std::vector<double>> ratios;
    int nFailed = 0;
    for (int nRound = 0; nRound < g_nRounds; ++nRound) {
        for (unsigned nBaud : g_anRates) {
            const double d = PacedRatio(strImage, nBaud);
            if (d < 0)
                ++nFailed;
            else
                ratios[nBaud].push_back(d);
        }
    }
    unlink(strImage.c_str());

    const auto Median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    const double dReference = Median(ratios[115200]);
    for (unsigned nBaud : g_anRates) {
        const std::vector<double>& v = ratios[nBaud];
        if (v.empty())
            continue;
        printf("%7u baud: ratio median %.4f (range %.4f-%.4f), %.3f of 115200's\n", nBaud,
            Median(v), *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()),
            dReference > 0 ? Median(v) / dReference : 0.0);
    }
    return nFailed ? 1 : 0;
}
