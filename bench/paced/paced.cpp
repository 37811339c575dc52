// Download efficiency on a paced wire: the simulator takes and sends one byte per 10 bit times
// at 115200 baud; the figure is the wire's own limit for the bytes the host sent over the time
// from the poll answer to the last acknowledgement. Prints figures; never fails on time.
#include "childprocess.h"
#include "simsummary.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

using namespace std::chrono_literals;

namespace {

constexpr size_t g_nImageBytes = 256 * 1024;
constexpr double g_dBaud = 115200;

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

    CChildProcess sim;
    if (!sim.Start({ BREM_SIM_PATH, "--stats", "--baud", "115200", "--idle-ms", "300",
            "--exit-after", "300" })) {
        fprintf(stderr, "brem-sim did not start\n");
        return 1;
    }
    std::string strDevice = sim.FirstLine(10s);
    CChildProcess cli;
    cli.Start(
        { BREM_CLI_PATH, "--port", strDevice, "--baud", "115200", "--timeout", "30", strImage });
    int nStatus = cli.Wait(300s);
    sim.Signal(SIGTERM);
    sim.Wait(10s);
    unlink(strImage.c_str());
    if (nStatus != 0)
        fprintf(stderr, "brem-cli ended with %d:\n%s", nStatus, cli.Err().c_str());

    std::map<std::string, std::string> fields = SimSummary(sim.Out());
    double dWireBytes = atof(fields["wire_bytes"].c_str());
    double dDownloadUs = atof(fields["download_us"].c_str());
    double dLimitUs = dWireBytes * 10 / g_dBaud * 1e6;
    printf("paced download, 256 KiB at 115200 baud through brem-cli (goal >= 0.99)\n");
    printf("wire_bytes=%.0f wire_limit_us=%.0f download_us=%.0f ratio=%.4f image=%s\n", dWireBytes,
        dLimitUs, dDownloadUs, dDownloadUs > 0 ? dLimitUs / dDownloadUs : 0.0,
        fields["image"].c_str());
    return 0;
}
