#pragma once

#include <cstddef>
#include <string>

// The connection to ptyhost, which plays the device end of this program's COM ports from the
// Linux side of Wine (tests/wine/ptyhost.cpp). Any thread; one request at a time. Returns the
// answer after "ok", or false with the helper's complaint in strAnswer.
bool PtyHostRequest(const std::string& strRequest, std::string& strAnswer);

// What the process holds, for the tests that look for leaks.
size_t ProcessHandles();
size_t ProcessThreads();
