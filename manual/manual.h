#pragma once

#include <string>
#include <vector>

// What a program says about itself. Its --help, its manual page and its shell completion are
// all made from one of these, and its options from the same rows its parser reads, so none of
// them can tell of an option the program does not have, or leave one out.
//
// Texts are plain, with one mark: `--port` is a word to type, bold in the manual page; --help
// shows an option as it is and any other word in quotes ('all').

// How a shell completes an option's value: a list of words ("lines binary noise"), nothing
// (null: a number or free text), or one of these.
inline constexpr const char COMPLETE_FILES[] = "<files>";
inline constexpr const char COMPLETE_PORTS[] = "<ports>"; // brem-cli --list-ports, COMn, all

struct SOptionDoc {
    const char* pszName; // "--port"
    const char* pszAlias; // "-h", or null
    const char* pszValue; // what the option takes ("PORT"), or null for none
    const char* pszHelp; // for --help and the manual page
    const char* pszMore = nullptr; // the manual page only: the finer points
    const char* pszComplete = nullptr;
};

// An option table is an array of rows that each hold their SOptionDoc as `doc`.
template <class TRow, size_t N>
const TRow* FindOption(const TRow (&rows)[N], const std::string& strName)
{
    for (const TRow& row : rows) {
        if (strName == row.doc.pszName || (row.doc.pszAlias && strName == row.doc.pszAlias))
            return &row;
    }
    return nullptr;
}

template <class TRow, size_t N> std::vector<SOptionDoc> OptionDocs(const TRow (&rows)[N])
{
    std::vector<SOptionDoc> docs;
    for (const TRow& row : rows)
        docs.push_back(row.doc);
    return docs;
}

// A term and what it means: an exit status, an environment variable, a file, an example's
// command line.
struct SManualItem {
    const char* pszTerm;
    const char* pszText;
};

struct SManual {
    const char* pszName = ""; // "brem-cli"
    const char* pszSummary = ""; // the manual page's NAME line, after the dash
    std::vector<const char*> synopsis = {}; // one way to call it each, without the name
    std::vector<const char*> description = {}; // paragraphs; --help shows the first
    std::vector<SOptionDoc> options = {};
    const char* pszOperands = nullptr; // how a shell completes a word that is no option
    std::vector<SManualItem> exitStatus = {};
    const char* pszExitNote = nullptr; // a paragraph after them
    std::vector<SManualItem> environment = {};
    std::vector<SManualItem> files = {};
    std::vector<SManualItem> examples = {}; // command line, what it does
    std::vector<const char*> seeAlso = {}; // "brem-sim(1)"
};

// The --help text: usage, the first paragraph, options and exit statuses, within nWidth
// columns.
std::string HelpText(const SManual& manual, size_t nWidth = 79);

// The manual page in roff (man macros), for section 1.
std::string ManPage(
    const SManual& manual, const std::string& strVersion, const std::string& strDate);

// A bash completion script for the program, or "" when it has no options to complete.
std::string BashCompletion(const SManual& manual);

// Words of text broken into lines of at most nWidth columns (a longer word stands alone), the
// first after strFirst, the others after nIndent spaces.
std::string WrapText(
    const std::string& strText, const std::string& strFirst, size_t nIndent, size_t nWidth);

// The manual page generator's main: ARGV is MANPAGE VERSION DATE [COMPLETION].
int WriteManualFiles(const SManual& manual, int argc, char** argv);
