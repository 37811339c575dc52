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

const char* const g_szDash = " \xe2\x80\x94 "; // " — "

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

// "ttyUSB2" before "ttyUSB10": digit runs compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i]))
            && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t iEnd = i, jEnd = j;
            while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd])))
                ++iEnd;
            while (jEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[jEnd])))
                ++jEnd;
            const std::string strA = a.substr(i, iEnd - i), strB = b.substr(j, jEnd - j);
            const size_t nA = strA.find_first_not_of('0'), nB = strB.find_first_not_of('0');
            const std::string strNumA = nA == std::string::npos ? "" : strA.substr(nA);
            const std::string strNumB = nB == std::string::npos ? "" : strB.substr(nB);
            if (strNumA.size() != strNumB.size())
                return strNumA.size() < strNumB.size();
            if (strNumA != strNumB)
                return strNumA < strNumB;
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
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

std::string SSerialDevice::Key() const
{
    if (!strById.empty())
        return strById;
    if (!strSerial.empty())
        return "usb:" + strVendorId + ":" + strProductId + ":" + strSerial;
    return strPath;
}

std::string SSerialDevice::Label() const
{
    if (!IsUsb())
        return "built-in serial port";
    std::string strLabel = !strProduct.empty() ? strProduct
        : !strManufacturer.empty()             ? strManufacturer
                                               : "USB " + strVendorId + ":" + strProductId;
    if (!strSerial.empty())
        strLabel += " (" + strSerial + ")";
    return strLabel;
}

std::string SSerialDevice::DisplayName() const
{
    return strName + g_szDash + Label();
}

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

std::string SanitizedLabel(const std::string& strText, size_t nMax)
{
    std::string strOut;
    size_t nChars = 0;
    for (size_t i = 0; i < strText.size() && nChars < nMax; ++nChars) {
        const auto c = static_cast<unsigned char>(strText[i]);
        if (c < 0x80) {
            strOut += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
            ++i;
            continue;
        }
        // A well-formed sequence of 2 to 4 bytes, not an overlong one, a surrogate or a C1
        // control (which some terminals take as an escape).
        const size_t nLen = c >= 0xf5 ? 0 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
        bool bFormed = nLen > 0 && i + nLen <= strText.size();
        uint32_t nCode = nLen == 2 ? c & 0x1f : nLen == 3 ? c & 0x0f : c & 0x07;
        for (size_t k = 1; bFormed && k < nLen; ++k) {
            const auto cc = static_cast<unsigned char>(strText[i + k]);
            bFormed = (cc & 0xc0) == 0x80;
            nCode = (nCode << 6) | (cc & 0x3f);
        }
        if (!bFormed) {
            strOut += '?';
            ++i;
            continue;
        }
        const bool bValid = nCode >= 0xa0 && !(nCode >= 0xd800 && nCode < 0xe000)
            && nCode <= 0x10ffff && (nLen != 3 || nCode >= 0x800)
            && (nLen != 4 || nCode >= 0x10000);
        if (bValid)
            strOut.append(strText, i, nLen);
        else
            strOut += '?';
        i += nLen;
    }
    const size_t nFirst = strOut.find_first_not_of(' ');
    if (nFirst == std::string::npos)
        return std::string();
    return strOut.substr(nFirst, strOut.find_last_not_of(' ') - nFirst + 1);
}
