#include "../syserror.h"

#include <cerrno>
#include <cstring>

namespace {

// strerror_r comes in a GNU and an XSI flavour; accept either.
[[maybe_unused]] const char* ErrorTextOf(int nResult, const char* szBuffer)
{
    return nResult == 0 ? szBuffer : nullptr;
}
[[maybe_unused]] const char* ErrorTextOf(const char* szResult, const char*)
{
    return szResult;
}

} // namespace

const int g_nInvalidArgument = EINVAL;

int LastSystemError()
{
    return errno;
}

void SetLastSystemError(int nError)
{
    errno = nError;
}

std::string SystemErrorText(int nError)
{
    char szBuffer[256] = {};
    const char* szText = ErrorTextOf(::strerror_r(nError, szBuffer, sizeof szBuffer), szBuffer);
    if (!szText || !*szText)
        return "Unknown error " + std::to_string(nError);
    return szText;
}

bool IsDeviceGoneError(int nError)
{
    return nError == EIO || nError == ENXIO || nError == ENODEV;
}
