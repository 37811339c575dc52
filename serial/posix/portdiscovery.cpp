#include "../portdiscovery.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A sysfs attribute, first line only and bounded: a device's strings are its own to choose.
std::string ReadAttribute(const fs::path& path)
{
    const int hFile = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (hFile < 0)
        return std::string();
    char szBuffer[256];
    ssize_t nRead;
    do {
        nRead = ::read(hFile, szBuffer, sizeof szBuffer);
    } while (nRead < 0 && errno == EINTR);
    ::close(hFile);
    if (nRead <= 0)
        return std::string();
    std::string str(szBuffer, static_cast<size_t>(nRead));
    str.erase(std::min(str.find('\n'), str.size()));
    return SanitizedLabel(str);
}

fs::path Canonical(const fs::path& path)
{
    std::error_code ec;
    fs::path canonical = fs::canonical(path, ec);
    return ec ? fs::path() : canonical;
}

// Names in a folder, sorted; none when it cannot be read.
std::vector<std::string> Entries(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The USB device above a tty's device folder: the first parent with a vendor and product id.
void ReadUsbParent(const fs::path& device, const fs::path& sysRoot, SSerialDevice& dev)
{
    fs::path dir = device;
    for (int nDepth = 0; nDepth < 16 && !dir.empty() && dir != sysRoot; ++nDepth) {
        std::error_code ec;
        if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
            dev.strVendorId = ReadAttribute(dir / "idVendor");
            dev.strProductId = ReadAttribute(dir / "idProduct");
            dev.strManufacturer = ReadAttribute(dir / "manufacturer");
            dev.strProduct = ReadAttribute(dir / "product");
            dev.strSerial = ReadAttribute(dir / "serial");
            return;
        }
        if (dir == dir.parent_path())
            return;
        dir = dir.parent_path();
    }
}

// Where each link of a folder leads (canonical target → link path).
std::map<fs::path, std::string> LinkTargets(const fs::path& dir, bool bComOnly)
{
    std::map<fs::path, std::string> targets;
    for (const std::string& strName : Entries(dir)) {
        if (bComOnly && ComPortNumber(strName) == 0)
            continue;
        const fs::path target = Canonical(dir / strName);
        if (!target.empty())
            targets.emplace(target, (dir / strName).string());
    }
    return targets;
}

} // namespace

std::vector<SSerialDevice> DiscoverSerialDevices(const CPortRoots& roots)
{
    const fs::path sysRoot = Canonical(roots.strSys);
    const fs::path classDir = fs::path(roots.strSys) / "class" / "tty";
    const fs::path byIdDir = fs::path(roots.strDev) / "serial" / "by-id";
    const std::map<fs::path, std::string> byId = LinkTargets(byIdDir, false);
    std::map<fs::path, std::vector<std::string>> comLinks;
    for (const std::string& strName : Entries(roots.PortsDir())) {
        if (ComPortNumber(strName) == 0)
            continue;
        const fs::path target = Canonical(fs::path(roots.PortsDir()) / strName);
        if (!target.empty())
            comLinks[target].push_back(strName);
    }

    std::vector<SSerialDevice> devices;
    for (const std::string& strName : Entries(classDir)) {
        const fs::path ttyDir = Canonical(classDir / strName);
        // Virtual terminals (consoles, ptmx) have no device behind them.
        const fs::path device = Canonical(ttyDir / "device");
        if (ttyDir.empty() || device.empty())
            continue;
        // Serial-core ports say their UART type; 0 is a place with no chip found there.
        std::error_code ec;
        if (fs::exists(ttyDir / "type", ec) && ReadAttribute(ttyDir / "type") == "0")
            continue;
        const fs::path node = fs::path(roots.strDev) / strName;
        const fs::path nodeTarget = Canonical(node);
        if (nodeTarget.empty())
            continue;
        SSerialDevice dev;
        dev.strName = SanitizedLabel(strName);
        dev.strPath = node.string();
        if (auto it = byId.find(nodeTarget); it != byId.end())
            dev.strById = it->second;
        ReadUsbParent(device, sysRoot, dev);
        if (auto it = comLinks.find(nodeTarget); it != comLinks.end()) {
            dev.comNames = it->second;
            std::sort(dev.comNames.begin(), dev.comNames.end(), NaturalLess);
        }
        devices.push_back(std::move(dev));
    }
    std::sort(devices.begin(), devices.end(), [](const SSerialDevice& a, const SSerialDevice& b) {
        return NaturalLess(a.strName, b.strName);
    });
    return devices;
}

const SSerialDevice* FindSerialDevice(
    const std::vector<SSerialDevice>& devices, const std::string& strPath)
{
    const fs::path target = Canonical(strPath);
    if (target.empty())
        return nullptr;
    for (const SSerialDevice& dev : devices) {
        if (Canonical(dev.strPath) == target)
            return &dev;
    }
    return nullptr;
}

std::vector<SComMapping> ComMappings(
    const CPortRoots& roots, const std::vector<SSerialDevice>& devices, unsigned nCount)
{
    std::vector<SComMapping> mappings;
    for (unsigned n = 1; n <= nCount; ++n) {
        const std::string strName = "COM" + std::to_string(n);
        SComMapping mapping { n, ResolvePortName(strName, roots), std::string(), nullptr, false };
        const fs::path entry = fs::path(roots.PortsDir()) / strName;
        std::error_code ec;
        if (fs::is_symlink(entry, ec))
            mapping.strLinkTarget = fs::read_symlink(entry, ec).string();
        mapping.bExists = fs::exists(mapping.strDevice, ec);
        mapping.pDevice = FindSerialDevice(devices, mapping.strDevice);
        mappings.push_back(mapping);
    }
    return mappings;
}
