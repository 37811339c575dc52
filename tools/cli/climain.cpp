#include "climain.h"

#include "clihost.h"
#include "clioptions.h"
#include "cliplatform.h"
#include "portlisting.h"
#include "station.h"

#include <cstdio>

int BremCliMain(const std::vector<std::string>& args, const CPortRoots& roots)
{
    // A script reading the log through a pipe sees each line as it happens.
    setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

    CCliOptions options;
    if (!options.Parse(args)) {
        fprintf(stderr, "brem-cli: %s (see brem-cli --help)\n", options.m_strError.c_str());
        return CLI_USAGE;
    }
    switch (options.m_nAction) {
    case CCliOptions::ACTION_HELP:
        fputs(CCliOptions::Usage().c_str(), stdout);
        return CLI_OK;
    case CCliOptions::ACTION_LIST_PORTS:
        fputs(PortListing(roots).c_str(), stdout);
        return CLI_OK;
    case CCliOptions::ACTION_DOWNLOAD:
        break;
    }
    if (options.Station()) {
        CStation station(options, roots, stdout, stderr, IsTerminal(stderr));
        return station.Run();
    }
    CCliHost host(options, roots, stdout, stderr, IsTerminal(stderr));
    return host.Run();
}
