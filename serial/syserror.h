#pragma once

#include <string>

// The system's own error codes: errno values on POSIX, Win32 error codes on Windows.

// The calling thread's last error, as the call that has just failed left it.
int LastSystemError();
void SetLastSystemError(int nError);
// The code a malformed or out-of-range argument fails with.
extern const int g_nInvalidArgument;
// The system's text for an error code, never empty.
std::string SystemErrorText(int nError);
// The errors a device that has gone away (an adapter pulled, a line hung up) fails with.
bool IsDeviceGoneError(int nError);
