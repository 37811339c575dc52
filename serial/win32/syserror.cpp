#include "../syserror.h"

#include <windows.h>

const int g_nInvalidArgument = ERROR_INVALID_PARAMETER;

int LastSystemError()
{
    return static_cast<int>(::GetLastError());
}

void SetLastSystemError(int nError)
{
    ::SetLastError(static_cast<DWORD>(nError));
}

std::string SystemErrorText(int nError)
{
    char* pText = nullptr;
    const DWORD nLength = ::FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(nError), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&pText), 0, nullptr);
    std::string strText(pText ? pText : "", pText ? nLength : 0);
    ::LocalFree(pText);
    // The system's texts end in a line break of their own.
    while (!strText.empty()
        && (strText.back() == '\r' || strText.back() == '\n' || strText.back() == ' '))
        strText.pop_back();
    if (strText.empty())
        return "Unknown error " + std::to_string(nError);
    return strText;
}

bool IsDeviceGoneError(int nError)
{
    // What drivers of USB adapters and Wine's serial layer say once the device has gone.
    switch (nError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
        return true;
    default:
        return false;
    }
}
