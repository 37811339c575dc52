#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

// The Windows build runs the end-to-end tests with brem-cli.exe under Wine: the program,
// wine-run and the folder of the links its prefix maps COM1 to COM8 to come from the
// environment.
struct SWine {
    std::string strCli, strRun, strComDir;
    bool On() const { return !strCli.empty(); }
    // The link that makes a pty COMn.
    std::string ComLink(unsigned nPort) const { return strComDir + "/COM" + std::to_string(nPort); }
};

inline const SWine& Wine()
{
    static const SWine wine = [] {
        SWine w;
        for (auto [pStr, szName] : { std::pair { &w.strCli, "BREM_WINE_CLI" },
                 { &w.strRun, "BREM_WINE_RUN" }, { &w.strComDir, "BREM_WINE_COM_DIR" } }) {
            const char* szValue = std::getenv(szName);
            *pStr = szValue ? szValue : "";
        }
        return w;
    }();
    return wine;
}

// The command that runs the program with the arguments: as it is, or under Wine (brem-cli.exe
// for strCli) with paths as Windows sees them (Z:/tmp/x).
inline std::vector<std::string> CliCommand(const std::string& strCli, std::vector<std::string> args)
{
    if (!Wine().On()) {
        args.insert(args.begin(), strCli);
        return args;
    }
    for (std::string& strArg : args)
        strArg = strArg.rfind('/', 0) == 0 ? "Z:" + strArg : strArg;
    args.insert(args.begin(), { Wine().strRun, Wine().strCli });
    return args;
}
