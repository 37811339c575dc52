#pragma once

#include <string>

// $BREM_PORTS_DIR if set, else ~/.config/brem/ports: where "COM<n>" links to devices live.
std::string BremPortsDir();

// The device to open for a port name. Anything containing a '/' is a device path, returned
// unchanged. Otherwise an entry of that name in the ports directory wins; failing that,
// "COM<n>" is /dev/ttyS<n-1> and any other name is looked up in /dev.
std::string ResolvePortName(const std::string& strName);
