#pragma once
// Reads a timed wire capture back: its bursts, each direction's bytes in order, its notes.
#include <string>
#include <utility>
#include <vector>

struct SParsedWire {
    std::vector<std::pair<bool, std::string>> m_vecBursts; // received?, bytes
    std::string m_strReceived;
    std::string m_strSent;
    std::vector<std::string> m_vecNotes;
    std::string m_strError; // the first line that is not as the format says
};

inline SParsedWire ParseTimedWire(const std::string& strText)
{
    SParsedWire wire;
    size_t nLine = 0;
    for (size_t nAt = 0; nAt < strText.size(); ++nLine) {
        size_t nEnd = strText.find('\n', nAt);
        if (nEnd == std::string::npos) {
            wire.m_strError = "line " + std::to_string(nLine) + " does not end";
            return wire;
        }
        const std::string strLine = strText.substr(nAt, nEnd - nAt);
        nAt = nEnd + 1;
        if (strLine.rfind("# ", 0) == 0) {
            wire.m_vecNotes.push_back(strLine.substr(2));
            continue;
        }
        // "YYYY-MM-DD HH:MM:SS.mmm RX \"...\""
        const bool bShape = strLine.size() >= 30 && strLine[4] == '-' && strLine[10] == ' '
            && strLine[19] == '.'
            && (strLine.compare(23, 5, " RX \"") == 0 || strLine.compare(23, 5, " TX \"") == 0)
            && strLine.back() == '"';
        if (!bShape) {
            wire.m_strError = "line " + std::to_string(nLine) + ": " + strLine;
            return wire;
        }
        std::string strBytes;
        for (size_t i = 28; i + 1 < strLine.size(); ++i) {
            if (strLine[i] != '\\') {
                strBytes += strLine[i];
                continue;
            }
            const char c = strLine[++i];
            if (c == 'x') {
                strBytes += char(std::stoi(strLine.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                strBytes += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
            }
        }
        const bool bReceived = strLine[24] == 'R';
        (bReceived ? wire.m_strReceived : wire.m_strSent) += strBytes;
        wire.m_vecBursts.emplace_back(bReceived, strBytes);
    }
    return wire;
}
