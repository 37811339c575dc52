#pragma once

#include "portnames.h"

#include <string>
#include <utility>
#include <vector>

// A process that has a device open.
struct SPortHolder {
    int nPid;
    std::string strName; // its command name, "ModemManager"
    unsigned nUid;
};

// The other processes that hold the device open: those with a lock on it first, then those
// with it open. Processes of other users show only as far as the system lets us see them.
std::vector<SPortHolder> PortHolders(const std::string& strDevice);

// Why a port could not be opened, in words the operator can act on.
struct SOpenFailure {
    std::string strReason; // "permission denied: /dev/ttyUSB0 belongs to group dialout, ..."
    std::vector<std::string> advice; // what to do, one step each
    // For a device that is not there, what is there instead: its name and where it is.
    std::vector<std::pair<std::string, std::string>> present;

    // "reason; step; step; present: name (path), ...", for a one-line verdict.
    std::string OneLine() const;
    // One line each, capitalised, and the names of the devices present under "Present now:".
    std::string Lines() const;
};

// strName is what the operator chose ("COM3", "ttyUSB0", a path), strDevice what it resolved
// to, nError the errno of the open that failed. Looks at the device, its group, who holds it
// and what is present, as the system is now.
SOpenFailure ExplainOpenFailure(
    const std::string& strName, const std::string& strDevice, int nError, const CPortRoots& roots);
