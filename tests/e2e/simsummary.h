#pragma once

#include <map>
#include <string>

// The fields of brem-sim's closing line "brem-sim: key=value ..." found in its output; empty
// when there is none.
std::map<std::string, std::string> SimSummary(const std::string& strOutput);
