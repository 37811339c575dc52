#include "clihost.h"
#include "clioptions.h"
#include "portlisting.h"

#include <unistd.h>

#include <cstdio>

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
        fputs(PortListing(CPortRoots()).c_str(), stdout);
        return CLI_OK;
    case CCliOptions::ACTION_DOWNLOAD:
        break;
    }
    CCliHost host(options, stdout, stderr, isatty(STDERR_FILENO) == 1);
    return host.Run();
}
