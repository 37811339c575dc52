#include "winside.h"

#include <windows.h>

namespace {

HANDLE OpenCom1()
{
    return ::CreateFileA(
        "\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

unsigned long Com1Baud()
{
    const HANDLE h = OpenCom1();
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    const unsigned long nBaud = ::GetCommState(h, &dcb) ? dcb.BaudRate : 0;
    ::CloseHandle(h);
    return nBaud;
}

bool SetCom1Baud(unsigned long nBaud, std::string& strError)
{
    const HANDLE h = OpenCom1();
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    bool bOk = h != INVALID_HANDLE_VALUE && ::GetCommState(h, &dcb);
    dcb.BaudRate = nBaud;
    bOk = bOk && ::SetCommState(h, &dcb);
    if (!bOk)
        strError = "error " + std::to_string(::GetLastError());
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    return bOk;
}

std::wstring WindowCaption(uintptr_t nWindowId)
{
    wchar_t szTitle[128] = {};
    ::GetWindowTextW(reinterpret_cast<HWND>(nWindowId), szTitle, 127);
    return szTitle;
}

bool EndSession(uintptr_t nWindowId)
{
    const HWND hWnd = reinterpret_cast<HWND>(nWindowId);
    if (::SendMessageW(hWnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) == 0)
        return false;
    ::SendMessageW(hWnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    return true;
}

namespace {

constexpr wchar_t g_szDeviceMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
std::wstring g_strTakenName; // the value's name, e.g. "\Device\Serial0"

} // namespace

bool TakeCom1FromDeviceMap(std::string& strError)
{
    HKEY hKey = nullptr;
    LONG nResult
        = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szDeviceMap, 0, KEY_READ | KEY_WRITE, &hKey);
    for (DWORD i = 0; nResult == ERROR_SUCCESS && g_strTakenName.empty(); ++i) {
        wchar_t szName[256] = {};
        wchar_t szData[64] = {};
        DWORD nName = 255;
        DWORD nData = sizeof szData - sizeof(wchar_t);
        DWORD nType = 0;
        nResult = ::RegEnumValueW(
            hKey, i, szName, &nName, nullptr, &nType, reinterpret_cast<BYTE*>(szData), &nData);
        if (nResult == ERROR_SUCCESS && nType == REG_SZ && std::wstring(szData) == L"COM1")
            g_strTakenName = szName;
    }
    if (!g_strTakenName.empty())
        nResult = ::RegDeleteValueW(hKey, g_strTakenName.c_str());
    if (hKey)
        ::RegCloseKey(hKey);
    if (nResult != ERROR_SUCCESS || g_strTakenName.empty())
        strError = "COM1 is not in the device map (" + std::to_string(nResult) + ")";
    return nResult == ERROR_SUCCESS && !g_strTakenName.empty();
}

bool PutCom1BackInDeviceMap(std::string& strError)
{
    HKEY hKey = nullptr;
    LONG nResult = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szDeviceMap, 0, KEY_WRITE, &hKey);
    static const wchar_t s_szCom1[] = L"COM1";
    if (nResult == ERROR_SUCCESS)
        nResult = ::RegSetValueExW(hKey, g_strTakenName.c_str(), 0, REG_SZ,
            reinterpret_cast<const BYTE*>(s_szCom1), sizeof s_szCom1);
    if (hKey)
        ::RegCloseKey(hKey);
    if (nResult != ERROR_SUCCESS)
        strError = "COM1 cannot be put back (" + std::to_string(nResult) + ")";
    return nResult == ERROR_SUCCESS;
}
