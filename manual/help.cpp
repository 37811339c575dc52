#include "manual.h"

#include <algorithm>

namespace {

constexpr char kNoBreak = '\x1f'; // a space that WrapText keeps

// Columns a text takes on a terminal: one per character, not per UTF-8 byte.
size_t Columns(const std::string& str)
{
    return static_cast<size_t>(std::count_if(str.begin(), str.end(),
        [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Marked words as a terminal shows them: options as they are, other words in quotes.
std::string Plain(const char* psz)
{
    std::string str;
    bool bOption = false;
    bool bMarked = false;
    for (const char* p = psz ? psz : ""; *p; ++p) {
        if (*p == '`') {
            if (!bMarked)
                bOption = p[1] == '-';
            bMarked = !bMarked;
            if (!bOption)
                str += '\'';
        } else {
            str += *p;
        }
    }
    return str;
}

// A synopsis breaks between its words, not within a [--option VALUE].
std::string Unbreakable(std::string str)
{
    int nDepth = 0;
    for (char& c : str) {
        nDepth += c == '[' ? 1 : c == ']' ? -1 : 0;
        if (c == ' ' && nDepth > 0)
            c = kNoBreak;
    }
    return str;
}

std::string OptionLabel(const SOptionDoc& option)
{
    std::string str = option.pszAlias ? std::string(option.pszAlias) + ", " : std::string();
    str += option.pszName;
    if (option.pszValue)
        str += std::string(" ") + option.pszValue;
    return str;
}

// A list of terms with their texts beside them, the texts lined up in one column.
void AppendList(std::string& strOut, const std::vector<std::pair<std::string, std::string>>& items,
    size_t nWidth)
{
    constexpr size_t nMaxTerm = 22;
    size_t nTerm = 0;
    for (const auto& item : items)
        nTerm = std::max(nTerm, std::min(Columns(item.first), nMaxTerm));
    const size_t nIndent = 2 + nTerm + 2;
    for (const auto& [strTerm, strText] : items) {
        std::string strFirst = "  " + strTerm;
        if (Columns(strTerm) > nTerm) { // too long to stand beside its text
            strOut += strFirst + "\n";
            strFirst.clear();
        }
        strFirst += std::string(nIndent - Columns(strFirst), ' ');
        strOut += WrapText(strText, strFirst, nIndent, nWidth);
    }
}

} // namespace

std::string WrapText(
    const std::string& strText, const std::string& strFirst, size_t nIndent, size_t nWidth)
{
    std::string strOut = strFirst;
    size_t nColumn = Columns(strFirst);
    bool bLineEmpty = true;
    size_t nPos = 0;
    while (nPos < strText.size()) {
        const size_t nStart = strText.find_first_not_of(' ', nPos);
        if (nStart == std::string::npos)
            break;
        size_t nEnd = strText.find(' ', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        const std::string strWord = strText.substr(nStart, nEnd - nStart);
        const size_t nWord = Columns(strWord);
        if (!bLineEmpty && nColumn + 1 + nWord > nWidth) {
            strOut += "\n" + std::string(nIndent, ' ');
            nColumn = nIndent;
            bLineEmpty = true;
        }
        if (!bLineEmpty) {
            strOut += ' ';
            ++nColumn;
        }
        strOut += strWord;
        nColumn += nWord;
        bLineEmpty = false;
        nPos = nEnd;
    }
    return strOut + "\n";
}

std::string HelpText(const SManual& manual, size_t nWidth)
{
    std::string strOut;
    const std::string strName = manual.pszName;
    for (size_t i = 0; i < manual.synopsis.size(); ++i) {
        const std::string strLead = (i == 0 ? "usage: " : "       ") + strName + " ";
        strOut += WrapText(Unbreakable(manual.synopsis[i]), strLead, Columns(strLead) + 2, nWidth);
    }
    std::replace(strOut.begin(), strOut.end(), kNoBreak, ' ');
    if (!manual.description.empty())
        strOut += "\n" + WrapText(Plain(manual.description.front()), "", 0, nWidth);

    std::vector<std::pair<std::string, std::string>> items;
    for (const SOptionDoc& option : manual.options)
        items.emplace_back(OptionLabel(option), Plain(option.pszHelp));
    if (!items.empty()) {
        strOut += "\nOptions:\n";
        AppendList(strOut, items, nWidth);
    }
    items.clear();
    for (const SManualItem& item : manual.exitStatus)
        items.emplace_back(item.pszTerm, Plain(item.pszText));
    if (!items.empty()) {
        strOut += "\nExit status:\n";
        AppendList(strOut, items, nWidth);
    }
    if (manual.pszExitNote)
        strOut += "\n" + WrapText(Plain(manual.pszExitNote), "", 0, nWidth);
    return strOut;
}
