#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

// Resident memory of this process in KiB, -1 where /proc cannot tell.
inline long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string strLine; std::getline(status, strLine);)
        if (strLine.rfind("VmRSS:", 0) == 0)
            return std::atol(strLine.c_str() + 6);
    return -1;
}
