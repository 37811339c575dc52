#pragma once

#include <string>

// Where the system keeps its device tree and the operator's COM links. The defaults are the
// system's own; tests point them into a folder of their own.
struct CPortRoots {
    std::string strSys = "/sys";
    std::string strDev = "/dev";
    std::string strPortsDir; // "" stands for BremPortsDir() at the time of use

    std::string PortsDir() const;
};

// n of "COM<n>" for n from 1 on; 0 when the name is not of that form.
unsigned ComPortNumber(const std::string& strName);

// $BREM_PORTS_DIR if set, else ~/.config/brem/ports: where "COM<n>" links to devices live.
// Windows has no such links: "" there unless set.
std::string BremPortsDir();

// The device to open for a port name. Anything containing a '/' is a device path, returned
// unchanged. Otherwise an entry of that name in the ports directory wins; failing that,
// "COM<n>" is <dev>/ttyS<n-1>, and any other name is <dev>/NAME, or its stable name in
// <dev>/serial/by-id when only that exists. On Windows a name without '\\' or '/' is the
// device \\.\NAME, so "COM12" is "\\.\COM12".
std::string ResolvePortName(const std::string& strName, const CPortRoots& roots);
std::string ResolvePortName(const std::string& strName);
