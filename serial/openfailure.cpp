#include "openfailure.h"

#include <cctype>

std::string SOpenFailure::OneLine() const
{
    std::string strLine = strReason;
    for (const std::string& strStep : advice)
        strLine += "; " + strStep;
    for (size_t i = 0; i < present.size(); ++i)
        strLine
            += (i == 0 ? "; present: " : ", ") + present[i].first + " (" + present[i].second + ")";
    return strLine;
}

std::string SOpenFailure::Lines() const
{
    std::vector<std::string> lines { strReason };
    lines.insert(lines.end(), advice.begin(), advice.end());
    if (!present.empty())
        lines.push_back("Present now:");
    std::string strLines;
    for (std::string& strLine : lines) {
        if (!strLine.empty())
            strLine[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(strLine[0])));
        strLines += (strLines.empty() ? "" : "\n") + strLine;
    }
    for (const auto& [strName, strPath] : present)
        strLines += "\n  " + strName;
    return strLines;
}
