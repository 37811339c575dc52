#pragma once

#include <cstdint>
#include <string>

// The Windows calls the driver makes itself, apart from the window's headers (windows.h has
// its own DCB and MessageBox).

// COM1's rate as another program finds it; 0 when COM1 does not open (held, or gone).
unsigned long Com1Baud();
// Sets COM1's rate from outside the window; false with the system's error in strError.
bool SetCom1Baud(unsigned long nBaud, std::string& strError);
// A top-level window's caption as Windows holds it.
std::wstring WindowCaption(uintptr_t nWindowId);
// Asks the window to end the session, as Windows does at log-off; false when it refused.
bool EndSession(uintptr_t nWindowId);
// Takes COM1's entry out of the device map (as its driver does when the adapter is pulled), or
// puts back what was taken; false with the system's error in strError.
bool TakeCom1FromDeviceMap(std::string& strError);
bool PutCom1BackInDeviceMap(std::string& strError);
