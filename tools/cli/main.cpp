#include "clihost.h"
#include "clioptions.h"
#include "portnames.h"

#include <unistd.h>

#include <cstdio>

namespace {

int ListPorts()
{
    for (unsigned n = 1; n <= 20; ++n) {
        std::string strName = "COM" + std::to_string(n);
        std::string strDevice = ResolvePortName(strName);
        bool bExists = access(strDevice.c_str(), F_OK) == 0;
        printf("%-6s %s %s\n", strName.c_str(), strDevice.c_str(), bExists ? "present" : "absent");
    }
    return CLI_OK;
}

} // namespace

int main(int argc, char** argv)
{
    // A script reading the log through a pipe sees each line as it happens.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    CCliOptions options;
    if (!options.Parse(std::vector<std::string>(argv + 1, argv + argc))) {
        fprintf(stderr, "brem-cli: %s (see brem-cli --help)\n", options.m_strError.c_str());
        return CLI_USAGE;
    }
    switch (options.m_nAction) {
    case CCliOptions::ACTION_HELP:
        fputs(CCliOptions::Usage().c_str(), stdout);
        return CLI_OK;
    case CCliOptions::ACTION_LIST_PORTS:
        return ListPorts();
    case CCliOptions::ACTION_DOWNLOAD:
        break;
    }
    CCliHost host(options, stdout, stderr, isatty(STDERR_FILENO) == 1);
    return host.Run();
}
