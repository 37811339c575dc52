#pragma once

#include "linepulse.h"
#include "serialport.h"

#include <string>
#include <vector>

struct SOptionDoc;

// The command line of brem-cli, parsed but not yet checked against the system.
class CCliOptions {
public:
    enum Action { ACTION_DOWNLOAD, ACTION_LIST_PORTS, ACTION_HELP };

    // A port as named on the command line.
    struct SPort {
        std::string strName;
        unsigned nPortNr; // the n of "COMn"; 0 for a device given by name or path
    };

    // False on a usage error, with the reason in m_strError.
    bool Parse(const std::vector<std::string>& args);
    // The --help text.
    static std::string Usage();
    // What each option takes and does, in the order --help lists them.
    static std::vector<SOptionDoc> OptionDocs();

    // Several devices at once, a station or a report: the multi-device run rather than the
    // single download with its log.
    bool Station() const
    {
        return m_ports.size() > 1 || m_bAllPorts || m_bWatch || !m_strReport.empty();
    }

    Action m_nAction = ACTION_DOWNLOAD;
    // The port of a single download: the one --port given, else COM1.
    std::string m_strPort = "COM1";
    unsigned m_nPortNr = 1;
    // Every --port in order, "all" aside.
    std::vector<SPort> m_ports;
    bool m_bAllPorts = false;
    bool m_bWatch = false;
    std::string m_strReport;
    unsigned m_nBaud = 115200;
    unsigned m_nDataBits = 8;
    char m_cParity = 'N';
    unsigned m_nStopBits = 1;
    SLineControl m_lineControl; // flow control, DTR and RTS at open
    std::vector<SPulseStep> m_resetPulse; // played once the port is open, before the download
    double m_dTimeoutSec = 60.0;
    std::string m_strImage;
    std::string m_strError;
};
