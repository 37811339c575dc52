#pragma once

#include "portnames.h"

#include <string>
#include <vector>

// brem-cli as a whole: the arguments after the program name, and where the system keeps its
// devices. Returns the exit status.
int BremCliMain(const std::vector<std::string>& args, const CPortRoots& roots);
