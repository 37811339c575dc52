#include "../portnames.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string HomeDir()
{
    if (const char* szHome = std::getenv("HOME"); szHome && *szHome)
        return szHome;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

bool EntryExists(const std::string& strPath)
{
    struct stat st;
    // lstat: a dangling link is still the operator's choice, and its open error says why.
    return ::lstat(strPath.c_str(), &st) == 0;
}

} // namespace

std::string BremPortsDir()
{
    if (const char* szDir = std::getenv("BREM_PORTS_DIR"); szDir && *szDir)
        return szDir;
    return HomeDir() + "/.config/brem/ports";
}

std::string ResolvePortName(const std::string& strName, const CPortRoots& roots)
{
    if (strName.empty() || strName.find('/') != std::string::npos)
        return strName;
    const std::string strEntry = roots.PortsDir() + "/" + strName;
    if (EntryExists(strEntry))
        return strEntry;
    const unsigned n = ComPortNumber(strName);
    if (n > 0)
        return roots.strDev + "/ttyS" + std::to_string(n - 1);
    if (ComPortNumber(strName + "1") == 1) // "COM" alone or "COM0": no such port
        return strEntry;
    const std::string strNode = roots.strDev + "/" + strName;
    if (strName == "." || strName == "..")
        return strNode;
    const std::string strById = roots.strDev + "/serial/by-id/" + strName;
    if (!EntryExists(strNode) && EntryExists(strById))
        return strById;
    return strNode;
}
