#include "../portnames.h"

#include <cstdlib>

std::string BremPortsDir()
{
    // Windows names its ports itself; there are no links of ours to keep.
    const char* szDir = std::getenv("BREM_PORTS_DIR");
    return szDir ? szDir : "";
}

std::string ResolvePortName(const std::string& strName, const CPortRoots& /*roots*/)
{
    if (strName.empty() || strName.find_first_of("\\/") != std::string::npos)
        return strName;
    // The device name reaches every port, also those past COM9 that the bare name does not.
    return "\\\\.\\" + strName;
}
