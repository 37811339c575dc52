// What --help, man and bash make of the programs' descriptions.
#include "manual.h"
#include "childprocess.h"
#include "climanual.h"
#include "faketree.h"
#include "simmanual.h"
#ifdef BREM_HAVE_APP
#include "bremmanual.h"
#endif

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;

std::vector<SManual> Programs()
{
    std::vector<SManual> programs = { CliManual(), SimManual() };
#ifdef BREM_HAVE_APP
    programs.push_back(BremManual());
#endif
    return programs;
}

std::vector<std::string> Words(const std::string& str)
{
    std::istringstream in(str);
    std::vector<std::string> words;
    for (std::string strWord; in >> strWord;)
        words.push_back(strWord);
    return words;
}

// Whether the words of strNeedle stand together, in order, somewhere in strText.
bool HasRun(const std::string& strText, const std::string& strNeedle)
{
    const std::vector<std::string> text = Words(strText);
    const std::vector<std::string> needle = Words(strNeedle);
    return std::search(text.begin(), text.end(), needle.begin(), needle.end()) != text.end();
}

std::vector<std::string> Lines(const std::string& str)
{
    std::vector<std::string> lines;
    std::istringstream in(str);
    for (std::string strLine; std::getline(in, strLine);)
        lines.push_back(strLine);
    return lines;
}

size_t Columns(const std::string& str)
{
    return static_cast<size_t>(std::count_if(str.begin(), str.end(),
        [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

class CTempDir {
public:
    CTempDir()
    {
        char szTemplate[] = "/tmp/brem-manual-XXXXXX";
        if (!::mkdtemp(szTemplate))
            throw std::runtime_error("mkdtemp failed");
        m_strPath = szTemplate;
    }
    ~CTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strPath, ec);
    }
    std::string Write(const std::string& strName, const std::string& strText) const
    {
        const std::string strPath = m_strPath + "/" + strName;
        std::ofstream(strPath, std::ios::binary) << strText;
        return strPath;
    }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// The page as man shows it, on lines long enough that no paragraph breaks or hyphenates.
std::string Render(const std::string& strPage, std::string& strWarnings)
{
    CTempDir dir;
    CChildProcess groff;
    EXPECT_TRUE(groff.Start({ "/usr/bin/groff", "-man", "-Tutf8", "-ww", "-rLL=2000n", "-rHY=0",
        "-P-cbou", dir.Write("page.1", strPage) }));
    EXPECT_EQ(groff.Wait(30s), 0) << groff.Err();
    strWarnings = groff.Err();
    return groff.Out();
}

// What bash offers for the last of words typed after the program's name.
std::vector<std::string> Complete(
    const std::string& strScript, const std::string& strProgram, std::vector<std::string> words)
{
    CTempDir dir;
    const std::string strName = std::filesystem::path(strProgram).filename().string();
    const std::string strFunction = strName == "brem-cli" ? "_brem_cli" : "_brem_sim";
    std::vector<std::string> argv = { "/bin/bash", "-c",
        "source \"$1\"; prog=$2; shift 2; COMP_WORDS=(\"$prog\" \"$@\"); "
        "COMP_CWORD=$#; "
            + strFunction + " \"$prog\"; printf '%s\\n' \"${COMPREPLY[@]}\"",
        "bash", dir.Write("completion", strScript), strProgram };
    argv.insert(argv.end(), words.begin(), words.end());
    CChildProcess bash;
    EXPECT_TRUE(bash.Start(argv));
    EXPECT_EQ(bash.Wait(30s), 0) << bash.Err();
    std::vector<std::string> offered;
    for (const std::string& strLine : Lines(bash.Out())) {
        if (!strLine.empty())
            offered.push_back(strLine);
    }
    std::sort(offered.begin(), offered.end());
    return offered;
}

SManual Awkward()
{
    SManual manual;
    manual.pszName = "tool";
    manual.pszSummary = "a tool";
    manual.synopsis = { "[--alpha VALUE] [--a-very-long-option-name-indeed SOMETHING] FILE" };
    manual.description = {
        "First — the paragraph that --help shows, with a "
        "word-that-is-far-too-long-to-fit-on-any-line-of-a-narrow-terminal-at-all in it.",
        ".profile is read first",
        "'quoted at the start",
        "C:\\x1b and a \\\\ stay, and a broken byte \xff shows",
    };
    manual.options = {
        { "--alpha", "-a", "VALUE",
            "sets the alpha, which is a long story told in many words so that it wraps more "
            "than once even on a wide terminal of eighty columns",
            ".dot at the start of the finer points" },
        { "--a-very-long-option-name-indeed", nullptr, "SOMETHING", "short" },
    };
    manual.exitStatus = { { "0", "fine" }, { "128+N", "ended by signal N" } };
    manual.examples = { { "tool --alpha a.b\n.hidden", "Run it:" } };
    return manual;
}

TEST(Help, WrapsWithinTheWidthAndKeepsEveryWordInOrder)
{
    const SManual manual = Awkward();
    for (const size_t nWidth : { 79, 40 }) {
        const std::string strHelp = HelpText(manual, nWidth);
        for (const std::string& strLine : Lines(strHelp)) {
            // Only what cannot break may stand out: a word, a [--option VALUE], an option's
            // name and value alone on their line.
            const std::vector<std::string> words = Words(strLine);
            const bool bUnit = words.size() <= 1
                || (words.front().front() == '[' && words.back().back() == ']'
                    && std::count(strLine.begin(), strLine.end(), '[') == 1)
                || (words.front().front() == '-' && strLine.find("  ", 2) == std::string::npos);
            EXPECT_TRUE(Columns(strLine) <= nWidth || bUnit) << nWidth << ": " << strLine;
            EXPECT_EQ(std::count(strLine.begin(), strLine.end(), '['),
                std::count(strLine.begin(), strLine.end(), ']'))
                << "a synopsis broke inside brackets: " << strLine;
        }
        for (const std::string& strRun : {
                 std::string("usage: tool [--alpha VALUE]"),
                 std::string(manual.description[0]),
                 "-a, --alpha VALUE " + std::string(manual.options[0].pszHelp),
                 std::string("--a-very-long-option-name-indeed SOMETHING short"),
                 std::string("128+N ended by signal N"),
             })
            EXPECT_TRUE(HasRun(strHelp, strRun)) << nWidth << ": " << strRun << "\n" << strHelp;
        EXPECT_EQ(strHelp.find(".profile"), std::string::npos) << "only the first paragraph";
    }
}

TEST(Help, MarkedWordsShowAsTypedOrQuoted)
{
    SManual manual = Awkward();
    manual.description = { "`--alpha` once, or `all` of them" };
    EXPECT_TRUE(HasRun(HelpText(manual), "--alpha once, or 'all' of them")) << HelpText(manual);
}

TEST(Help, EachProgramFitsATerminalAndListsEveryOption)
{
    for (const SManual& manual : Programs()) {
        const std::string strHelp = HelpText(manual);
        for (const std::string& strLine : Lines(strHelp))
            EXPECT_LE(Columns(strLine), 79u) << manual.pszName << ": " << strLine;
        EXPECT_EQ(strHelp.find('`'), std::string::npos) << manual.pszName;
        for (const SOptionDoc& option : manual.options)
            EXPECT_TRUE(HasRun(strHelp, option.pszName)) << manual.pszName << option.pszName;
    }
}

// Roff takes a leading dot or quote for a request, a backslash for an escape: the page must
// show the text as written all the same.
TEST(ManPage, NothingInTheTextIsTakenForRoff)
{
    std::string strWarnings;
    const std::string strShown = Render(ManPage(Awkward(), "1.2.3", "2026-12-07"), strWarnings);
    EXPECT_EQ(strWarnings, "");
    for (const std::string strRun : {
             "TOOL(1)",
             "tool - a tool",
             "First — the paragraph",
             ".profile is read first",
             "'quoted at the start",
             "C:\\x1b and a \\\\ stay, and a broken byte \xef\xbf\xbd shows",
             "-a, --alpha VALUE",
             ".dot at the start of the finer points",
             "tool --alpha a.b",
             ".hidden",
             "Brem 1.2.3",
         })
        EXPECT_TRUE(HasRun(strShown, strRun)) << strRun << "\n" << strShown;
}

TEST(ManPage, EachProgramRendersWithoutWarningAndDocumentsEveryOption)
{
    for (const SManual& manual : Programs()) {
        std::string strWarnings;
        const std::string strShown = Render(ManPage(manual, "1.0.0", "2026-12-07"), strWarnings);
        EXPECT_EQ(strWarnings, "") << manual.pszName;
        for (const char* pszHeading :
            { "NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES", "SEE ALSO" })
            EXPECT_NE(strShown.find(std::string("\n") + pszHeading + "\n"), std::string::npos)
                << manual.pszName << ": " << pszHeading;
        for (const SOptionDoc& option : manual.options)
            EXPECT_TRUE(HasRun(strShown, option.pszName)) << manual.pszName << option.pszName;
        if (std::string(manual.pszName) != "brem-sim") {
            EXPECT_TRUE(HasRun(strShown, "BREM_PORTS_DIR")) << manual.pszName;
            EXPECT_TRUE(HasRun(strShown, "~/.config/brem/ports/COMn")) << manual.pszName;
        }
    }
}

TEST(Completion, PortsAreTheDevicesTheListingShows)
{
    CFakeTree tree;
    AddBench(tree);
    tree.LinkCom(3, tree.ById(FtdiAdapter().strById));
    const CPortRoots roots = tree.Roots();
    CTempDir dir;
    const std::string strCli = dir.Write("brem-cli",
        "#!/bin/sh\nexec '" BREM_CLI_TREE_PATH "' '" + roots.strSys + "' '" + roots.strDev + "' '"
            + roots.strPortsDir + "' \"$@\"\n");
    ASSERT_EQ(::chmod(strCli.c_str(), 0755), 0);
    const std::string strScript = BashCompletion(CliManual());

    const std::vector<std::string> ports = Complete(strScript, strCli, { "--port", "" });
    for (const std::string strPort : { "all", "COM1", "COM20", "ttyUSB0", "ttyACM0", "ttyS0",
             "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
             "usb-Arduino__www.arduino.cc__0043_75830333238351F0D1A1-if00" })
        EXPECT_NE(std::find(ports.begin(), ports.end(), strPort), ports.end()) << strPort;
    EXPECT_EQ(ports.size(), 1 + 20 + 3 + 2u) << testing::PrintToString(ports);

    const std::vector<std::string> ttys = { "ttyACM0", "ttyS0", "ttyUSB0" };
    EXPECT_EQ(Complete(strScript, strCli, { "--port", "=", "tty" }), ttys);
    EXPECT_EQ(Complete(strScript, strCli, { "--port", "tty" }), ttys);
}

TEST(Completion, OptionsAndValuesComeFromTheTable)
{
    CTempDir dir;
    const std::string strImage = dir.Write("firmware.bin", "x");
    const std::string strCli = BashCompletion(CliManual());
    using List = std::vector<std::string>;
    EXPECT_EQ(Complete(strCli, "brem-cli", { "--po" }), List { "--port" });
    EXPECT_EQ(Complete(strCli, "brem-cli", { "--baud", "1152" }), List { "115200" });
    EXPECT_EQ(Complete(strCli, "brem-cli", { "--timeout", "" }), List {});
    EXPECT_EQ(Complete(strCli, "brem-cli", { "--report", dir.Path() + "/fir" }), List { strImage });
    EXPECT_EQ(Complete(strCli, "brem-cli", { "--watch", dir.Path() + "/fir" }), List { strImage });
    EXPECT_EQ(Complete(strCli, "brem-cli", { "--port", dir.Path() + "/fir" }), List { strImage });

    const std::string strSim = BashCompletion(SimManual());
    EXPECT_EQ(Complete(strSim, "brem-sim", { "--flood-kind", "b" }), List { "binary" });
    EXPECT_EQ(Complete(strSim, "brem-sim", { "--st" }),
        (List { "--stats", "--stop-after", "--stray-ack" }));
    EXPECT_EQ(Complete(strSim, "brem-sim", { "--refuse", "" }), List {});
    EXPECT_EQ(Complete(strSim, "brem-sim", { dir.Path() + "/fir" }), List {}) << "no operands";
}

} // namespace
