#pragma once

#include "portnames.h"

#include <string>

// What --list-ports prints: the serial devices present, with their names, paths, stable names
// and USB ids, then where COM1 to COM20 lead. On Windows the devices are the COM ports.
std::string PortListing(const CPortRoots& roots);
