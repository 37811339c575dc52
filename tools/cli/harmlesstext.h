#pragma once

#include <cstddef>
#include <string>

// Text from the device or the image, made safe for a terminal: printable ASCII stays, a
// backslash doubles, every other byte (controls, ESC, DEL, 8-bit) becomes \xNN.
std::string HarmlessText(const char* pText, size_t nLength);
inline std::string HarmlessText(const std::string& str)
{
    return HarmlessText(str.data(), str.size());
}
