#pragma once

#include <string>
#include <vector>

// The command line of brem-cli, parsed but not yet checked against the system.
class CCliOptions {
public:
    enum Action { ACTION_DOWNLOAD, ACTION_LIST_PORTS, ACTION_HELP };

    // False on a usage error, with the reason in m_strError.
    bool Parse(const std::vector<std::string>& args);
    static std::string Usage();

    Action m_nAction = ACTION_DOWNLOAD;
    std::string m_strPort = "COM1";
    // The n of "COMn"; 0 for a device given by path.
    unsigned m_nPortNr = 1;
    unsigned m_nBaud = 115200;
    double m_dTimeoutSec = 60.0;
    std::string m_strImage;
    std::string m_strError;
};
