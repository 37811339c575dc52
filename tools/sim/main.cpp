#include "simoptions.h"
#include "simrunner.h"

#include <cstdio>

int main(int argc, char** argv)
{
    CSimOptions options;
    std::string strError;
    if (!options.Parse(argc, argv, strError)) {
        std::fprintf(stderr, "brem-sim: %s\n%s", strError.c_str(), CSimOptions::Usage().c_str());
        return 2;
    }
    if (options.m_bHelp) {
        std::fputs(CSimOptions::Usage().c_str(), stdout);
        return 0;
    }
    CSimRunner runner(options);
    if (!runner.Open())
        return 1;
    runner.Run();
    return runner.LineWasWrong() ? 3 : 0;
}
