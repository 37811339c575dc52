#include "manual.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

bool IsUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}
bool IsWordChar(char c)
{
    return (c >= 'a' && c <= 'z') || IsUpper(c) || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Text for roff: no character of it is taken for a request, an escape or a hyphen, and
// `marked` words are bold.
std::string Roff(const std::string& str)
{
    std::string strOut;
    bool bLineStart = true;
    bool bBold = false;
    for (size_t i = 0; i < str.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(str[i]);
        if (bLineStart && (c == '.' || c == '\''))
            strOut += "\\&";
        bLineStart = c == '\n';
        if (c == '\\') {
            strOut += "\\e";
        } else if (c == '-') {
            strOut += "\\-";
        } else if (c == '`') {
            strOut += bBold ? "\\fR" : "\\fB";
            bBold = !bBold;
        } else if (c < 0x80) {
            strOut += static_cast<char>(c);
        } else {
            // A UTF-8 sequence as groff's \[uXXXX]; a broken one as U+FFFD.
            const size_t nMore = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
            unsigned long nCode = c & (0x3F >> nMore);
            bool bValid = nMore > 0 && i + nMore < str.size();
            for (size_t k = 1; bValid && k <= nMore; ++k) {
                const unsigned char cNext = static_cast<unsigned char>(str[i + k]);
                bValid = (cNext & 0xC0) == 0x80;
                nCode = nCode << 6 | (cNext & 0x3F);
            }
            if (bValid)
                i += nMore;
            else
                nCode = 0xFFFD;
            char szCode[16];
            std::snprintf(szCode, sizeof szCode, "\\[u%04lX]", nCode);
            strOut += szCode;
        }
    }
    if (bBold)
        strOut += "\\fR";
    return strOut;
}

// A call's words as a synopsis sets them: options bold, placeholders (IMAGE) in italics.
std::string RoffSynopsis(const std::string& str)
{
    std::string strOut;
    int nDepth = 0; // within [...], which a line does not break
    size_t i = 0;
    while (i < str.size()) {
        const bool bWordStart = i == 0 || !IsWordChar(str[i - 1]);
        size_t nEnd = i;
        while (nEnd < str.size() && IsWordChar(str[nEnd]))
            ++nEnd;
        const std::string strWord = str.substr(i, nEnd - i);
        if (bWordStart && strWord.size() >= 2 && strWord[0] == '-') {
            strOut += "\\fB" + Roff(strWord) + "\\fR";
            i = nEnd;
        } else if (bWordStart && strWord.size() >= 2 && IsUpper(strWord[0])
            && strWord.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_")
                == std::string::npos) {
            strOut += "\\fI" + Roff(strWord) + "\\fR";
            i = nEnd;
        } else {
            nDepth += str[i] == '[' ? 1 : str[i] == ']' ? -1 : 0;
            strOut += str[i] == ' ' && nDepth > 0 ? "\\ " : Roff(str.substr(i, 1));
            ++i;
        }
    }
    return strOut;
}

void AppendItems(std::string& strOut, const char* pszSection, const std::vector<SManualItem>& items,
    const char* pszFont)
{
    if (items.empty())
        return;
    strOut += std::string(".SH ") + pszSection + "\n";
    for (const SManualItem& item : items)
        strOut += ".TP\n" + std::string(pszFont) + Roff(item.pszTerm) + "\\fR\n"
            + Roff(item.pszText) + "\n";
}

bool WriteFile(const std::string& strPath, const std::string& strText)
{
    std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
    file << strText;
    file.close();
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", strPath.c_str());
        return false;
    }
    return true;
}

std::string ShellWords(const std::vector<std::string>& words)
{
    std::string str;
    for (const std::string& strWord : words)
        str += (str.empty() ? "" : " ") + strWord;
    return str;
}

// What compgen offers for a value completed as pszComplete says.
std::string CompletionOf(const char* pszComplete)
{
    if (std::strcmp(pszComplete, COMPLETE_FILES) == 0)
        return "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n";
    if (std::strcmp(pszComplete, COMPLETE_PORTS) != 0)
        return "        mapfile -t COMPREPLY < <(compgen -W '" + std::string(pszComplete)
            + "' -- \"$cur\")\n";
    std::string strComs;
    for (int n = 1; n <= 20; ++n)
        strComs += " COM" + std::to_string(n);
    // A path completes as a file; a name from what --list-ports shows: the devices' own names
    // and their by-id names (indented once and twice), not its COM lines.
    return "        if [[ $cur == */* ]]; then\n"
           "            mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
           "        else\n"
           "            local names\n"
           "            names=$(\"$1\" --list-ports 2>/dev/null | awk '\n"
           "                /^COM ports/ { exit }\n"
           "                /^  [^ ]/ { print $1 }\n"
           "                /^    [^ ]*\\/serial\\/by-id\\// { n = split($1, p, \"/\"); print p[n] "
           "}')\n"
           "            mapfile -t COMPREPLY < <(compgen -W \"all"
        + strComs
        + " $names\" -- \"$cur\")\n"
          "        fi\n";
}

} // namespace

std::string ManPage(
    const SManual& manual, const std::string& strVersion, const std::string& strDate)
{
    std::string strUpper = manual.pszName;
    for (char& c : strUpper)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    std::string strOut = ".\\\" Made by the build from the program's own description; edit that.\n";
    strOut += ".TH \"" + Roff(strUpper) + "\" 1 \"" + Roff(strDate) + "\" \"Brem "
        + Roff(strVersion) + "\" \"User Commands\"\n";
    strOut += ".SH NAME\n" + Roff(manual.pszName) + " \\- " + Roff(manual.pszSummary) + "\n";

    strOut += ".SH SYNOPSIS\n";
    for (const char* pszCall : manual.synopsis)
        strOut += ".SY " + Roff(manual.pszName) + "\n" + RoffSynopsis(pszCall) + "\n.YS\n";

    if (!manual.description.empty()) {
        strOut += ".SH DESCRIPTION\n";
        for (const char* pszParagraph : manual.description)
            strOut += ".PP\n" + Roff(pszParagraph) + "\n";
    }

    if (!manual.options.empty()) {
        strOut += ".SH OPTIONS\n";
        for (const SOptionDoc& option : manual.options) {
            strOut += ".TP\n";
            if (option.pszAlias)
                strOut += "\\fB" + Roff(option.pszAlias) + "\\fR, ";
            strOut += "\\fB" + Roff(option.pszName) + "\\fR";
            if (option.pszValue)
                strOut += " " + RoffSynopsis(option.pszValue);
            strOut += "\n" + Roff(option.pszHelp) + "\n";
            if (option.pszMore)
                strOut += ".IP\n" + Roff(option.pszMore) + "\n";
        }
    }

    AppendItems(strOut, "EXIT STATUS", manual.exitStatus, "\\fB");
    if (manual.pszExitNote)
        strOut += ".PP\n" + Roff(manual.pszExitNote) + "\n";
    AppendItems(strOut, "ENVIRONMENT", manual.environment, "\\fB");
    AppendItems(strOut, "FILES", manual.files, "\\fI");

    if (!manual.examples.empty()) {
        strOut += ".SH EXAMPLES\n";
        for (const SManualItem& example : manual.examples)
            strOut += ".PP\n" + Roff(example.pszText) + "\n.PP\n.RS 4\n.nf\n\\fB"
                + Roff(example.pszTerm) + "\\fR\n.fi\n.RE\n";
    }

    if (!manual.seeAlso.empty()) {
        strOut += ".SH SEE ALSO\n";
        for (size_t i = 0; i < manual.seeAlso.size(); ++i) {
            const std::string strRef = manual.seeAlso[i];
            const size_t nParen = strRef.find('(');
            strOut += "\\fB" + Roff(strRef.substr(0, nParen)) + "\\fR"
                + Roff(nParen == std::string::npos ? "" : strRef.substr(nParen))
                + (i + 1 < manual.seeAlso.size() ? ",\n" : "\n");
        }
    }
    return strOut;
}

std::string BashCompletion(const SManual& manual)
{
    if (manual.options.empty())
        return {};
    std::string strFunction = "_" + std::string(manual.pszName);
    for (char& c : strFunction)
        c = c == '-' ? '_' : c;

    std::vector<std::string> names;
    std::vector<std::string> bare; // values that complete to nothing
    std::string strCases;
    for (const SOptionDoc& option : manual.options) {
        names.emplace_back(option.pszName);
        if (!option.pszValue)
            continue;
        if (!option.pszComplete) {
            bare.emplace_back(option.pszName);
            continue;
        }
        strCases += "    " + std::string(option.pszName) + ")\n" + CompletionOf(option.pszComplete)
            + "        return ;;\n";
    }
    if (!bare.empty()) {
        std::string strBare;
        for (const std::string& strName : bare)
            strBare += (strBare.empty() ? "" : "|") + strName;
        strCases += "    " + strBare + ")\n        return ;;\n";
    }

    std::string strOut = "# bash completion for " + std::string(manual.pszName)
        + ", made by the build from the program's own option table.\n";
    strOut += strFunction + "()\n{\n";
    strOut += "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
              "    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
              "    # --option=VALUE comes as three words: --option, = and VALUE.\n"
              "    if [[ $cur == = ]]; then\n"
              "        cur=\n"
              "    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
              "        prev=${COMP_WORDS[COMP_CWORD - 2]}\n"
              "    fi\n"
              "    COMPREPLY=()\n"
              "    case $prev in\n"
        + strCases + "    esac\n";
    strOut += "    if [[ $cur == -* ]]; then\n"
              "        mapfile -t COMPREPLY < <(compgen -W '"
        + ShellWords(names) + "' -- \"$cur\")\n        return\n    fi\n";
    if (manual.pszOperands) {
        // Outside the case: four spaces less before each line.
        std::string strLines = CompletionOf(manual.pszOperands);
        for (size_t nPos = 0; nPos < strLines.size(); nPos = strLines.find('\n', nPos) + 1) {
            strLines.erase(nPos, 4);
            if (strLines.find('\n', nPos) == std::string::npos)
                break;
        }
        strOut += strLines;
    }
    strOut += "}\ncomplete -o filenames -F " + strFunction + " " + manual.pszName + "\n";
    return strOut;
}

int WriteManualFiles(const SManual& manual, int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s MANPAGE VERSION DATE [COMPLETION]\n", argv[0]);
        return 2;
    }
    if (!WriteFile(argv[1], ManPage(manual, argv[2], argv[3])))
        return 1;
    if (argc == 5 && !WriteFile(argv[4], BashCompletion(manual)))
        return 1;
    return 0;
}
