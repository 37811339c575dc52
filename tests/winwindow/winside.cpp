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
