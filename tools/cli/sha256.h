#pragma once

#include <cstddef>
#include <string>

// The SHA-256 of the bytes, as 64 lower-case hex digits; "" when the system cannot compute it.
std::string Sha256Hex(const unsigned char* pBytes, size_t nCount);
