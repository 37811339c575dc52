#include "../portdiscovery.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cwctype>
#include <initguid.h>
// initguid.h first: it makes devguid.h define the ports class rather than only declare it.
#include <devguid.h>
#include <setupapi.h>

namespace {

std::string Utf8(const wchar_t* pText, size_t nLength)
{
    if (nLength == 0)
        return std::string();
    const int nBytes = ::WideCharToMultiByte(
        CP_UTF8, 0, pText, static_cast<int>(nLength), nullptr, 0, nullptr, nullptr);
    std::string str(static_cast<size_t>(std::max(nBytes, 0)), '\0');
    if (nBytes > 0)
        ::WideCharToMultiByte(
            CP_UTF8, 0, pText, static_cast<int>(nLength), &str[0], nBytes, nullptr, nullptr);
    return str;
}

// A device's text property, bounded and made safe: the driver chose it.
std::string Property(HDEVINFO hInfo, SP_DEVINFO_DATA& data, DWORD nProperty)
{
    wchar_t szText[256] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(hInfo, &data, nProperty, nullptr,
            reinterpret_cast<BYTE*>(szText), sizeof szText - sizeof(wchar_t), nullptr))
        return std::string();
    return SanitizedLabel(Utf8(szText, wcsnlen(szText, 255)));
}

std::string PortNameOf(HDEVINFO hInfo, SP_DEVINFO_DATA& data)
{
    HKEY hKey = ::SetupDiOpenDevRegKey(hInfo, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (hKey == INVALID_HANDLE_VALUE)
        return std::string();
    wchar_t szName[64] = {};
    DWORD nSize = sizeof szName - sizeof(wchar_t);
    DWORD nType = 0;
    const bool bRead = ::RegQueryValueExW(hKey, L"PortName", nullptr, &nType,
                           reinterpret_cast<BYTE*>(szName), &nSize)
            == ERROR_SUCCESS
        && nType == REG_SZ;
    ::RegCloseKey(hKey);
    return bRead ? SanitizedLabel(Utf8(szName, wcsnlen(szName, 63))) : std::string();
}

// The four hex digits after "VID_" (or "PID_") in an id such as "USB\VID_0403&PID_6001\A5".
std::string IdField(const std::string& strId, const char* szKey)
{
    std::string strUpper = strId;
    for (char& c : strUpper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t nAt = strUpper.find(szKey);
    if (nAt == std::string::npos || nAt + 8 > strId.size())
        return std::string();
    std::string strField = strId.substr(nAt + 4, 4);
    for (char& c : strField) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::string();
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return strField;
}

void AddFromSetupApi(std::vector<SSerialDevice>& devices)
{
    HDEVINFO hInfo = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (hInfo == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA data {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(hInfo, i, &data); ++i) {
        SSerialDevice dev;
        dev.strName = PortNameOf(hInfo, data);
        if (ComPortNumber(dev.strName) == 0)
            continue; // a printer port (LPT1) belongs to the same class
        dev.strPath = "\\\\.\\" + dev.strName;
        dev.comNames = { dev.strName };
        std::string strFriendly = Property(hInfo, data, SPDRP_FRIENDLYNAME);
        // "USB Serial Port (COM3)": the number is shown beside it anyway.
        const std::string strSuffix = " (" + dev.strName + ")";
        if (strFriendly.size() > strSuffix.size()
            && strFriendly.compare(
                   strFriendly.size() - strSuffix.size(), strSuffix.size(), strSuffix)
                == 0)
            strFriendly.resize(strFriendly.size() - strSuffix.size());
        dev.strProduct = strFriendly;
        char szInstance[256] = {};
        if (::SetupDiGetDeviceInstanceIdA(hInfo, &data, szInstance, sizeof szInstance, nullptr)) {
            const std::string strInstance = SanitizedLabel(szInstance, 255);
            dev.strVendorId = IdField(strInstance, "VID_");
            dev.strProductId = dev.strVendorId.empty() ? "" : IdField(strInstance, "PID_");
            if (dev.strProductId.empty())
                dev.strVendorId.clear();
            // A USB serial number, where the adapter has one (Windows makes up one with '&').
            const size_t nSlash = strInstance.rfind('\\');
            if (dev.IsUsb() && strInstance.compare(0, 4, "USB\\") == 0
                && nSlash != std::string::npos
                && strInstance.find('&', nSlash) == std::string::npos)
                dev.strSerial = strInstance.substr(nSlash + 1);
        }
        if (dev.IsUsb())
            dev.strManufacturer = Property(hInfo, data, SPDRP_MFG);
        devices.push_back(std::move(dev));
    }
    ::SetupDiDestroyDeviceInfoList(hInfo);
}

// Ports that only the device map names (older drivers, Wine): "\Device\Serial0" = "COM1".
void AddFromDeviceMap(std::vector<SSerialDevice>& devices)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &hKey)
        != ERROR_SUCCESS)
        return;
    for (DWORD i = 0; i < 1024; ++i) {
        wchar_t szValue[256] = {};
        wchar_t szData[64] = {};
        DWORD nValue = 255;
        DWORD nData = sizeof szData - sizeof(wchar_t);
        DWORD nType = 0;
        const LONG nResult = ::RegEnumValueW(
            hKey, i, szValue, &nValue, nullptr, &nType, reinterpret_cast<BYTE*>(szData), &nData);
        if (nResult == ERROR_NO_MORE_ITEMS)
            break;
        if (nResult != ERROR_SUCCESS || nType != REG_SZ)
            continue;
        SSerialDevice dev;
        dev.strName = SanitizedLabel(Utf8(szData, wcsnlen(szData, 63)));
        const bool bKnown = std::any_of(devices.begin(), devices.end(),
            [&](const SSerialDevice& other) { return other.strName == dev.strName; });
        if (ComPortNumber(dev.strName) == 0 || bKnown)
            continue;
        dev.strPath = "\\\\.\\" + dev.strName;
        dev.comNames = { dev.strName };
        std::string strDevice = SanitizedLabel(Utf8(szValue, wcsnlen(szValue, 255)));
        const std::string strPrefix = "\\Device\\";
        if (strDevice.compare(0, strPrefix.size(), strPrefix) == 0)
            strDevice.erase(0, strPrefix.size());
        dev.strProduct = strDevice;
        devices.push_back(std::move(dev));
    }
    ::RegCloseKey(hKey);
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x))
            == std::toupper(static_cast<unsigned char>(y));
    });
}

} // namespace

std::vector<SSerialDevice> DiscoverSerialDevices(const CPortRoots& /*roots*/)
{
    std::vector<SSerialDevice> devices;
    AddFromSetupApi(devices);
    AddFromDeviceMap(devices);
    std::sort(devices.begin(), devices.end(), [](const SSerialDevice& a, const SSerialDevice& b) {
        return NaturalLess(a.strName, b.strName);
    });
    return devices;
}

const SSerialDevice* FindSerialDevice(
    const std::vector<SSerialDevice>& devices, const std::string& strPath)
{
    const size_t nSlash = strPath.find_last_of("\\/");
    const std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    for (const SSerialDevice& dev : devices) {
        if (SameName(dev.strName, strName))
            return &dev;
    }
    return nullptr;
}

std::vector<SComMapping> ComMappings(
    const CPortRoots& roots, const std::vector<SSerialDevice>& devices, unsigned nCount)
{
    // Every number up to nCount, and the ports present beyond it.
    unsigned nLast = nCount;
    for (const SSerialDevice& dev : devices)
        nLast = std::max(nLast, ComPortNumber(dev.strName));
    std::vector<SComMapping> mappings;
    for (unsigned n = 1; n <= nLast; ++n) {
        const std::string strName = "COM" + std::to_string(n);
        const SSerialDevice* pDevice = FindSerialDevice(devices, strName);
        if (n > nCount && !pDevice)
            continue;
        mappings.push_back(
            { n, ResolvePortName(strName, roots), std::string(), pDevice, pDevice != nullptr });
    }
    return mappings;
}
