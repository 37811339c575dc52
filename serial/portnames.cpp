#include "portnames.h"

unsigned ComPortNumber(const std::string& strName)
{
    if (strName.size() < 4 || strName.size() > 9 || strName.compare(0, 3, "COM") != 0)
        return 0;
    unsigned n = 0;
    for (size_t i = 3; i < strName.size(); ++i) {
        const char c = strName[i];
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

std::string CPortRoots::PortsDir() const
{
    return strPortsDir.empty() ? BremPortsDir() : strPortsDir;
}

std::string ResolvePortName(const std::string& strName)
{
    return ResolvePortName(strName, CPortRoots());
}
