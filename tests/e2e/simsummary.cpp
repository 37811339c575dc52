#include "simsummary.h"

#include <sstream>

std::map<std::string, std::string> SimSummary(const std::string& strOutput)
{
    std::map<std::string, std::string> fields;
    std::istringstream lines(strOutput);
    for (std::string strLine; std::getline(lines, strLine);) {
        if (strLine.rfind("brem-sim:", 0) != 0)
            continue;
        std::istringstream ss(strLine.substr(9));
        for (std::string strField; ss >> strField;) {
            size_t nEq = strField.find('=');
            if (nEq != std::string::npos)
                fields[strField.substr(0, nEq)] = strField.substr(nEq + 1);
        }
    }
    return fields;
}
