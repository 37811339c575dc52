#pragma once

#include <string>

// Reads a decimal number as atoi does: leading blanks skipped, one optional sign, digits up to
// the first non-digit; 0 when there are none. Saturates instead of overflowing.
int AtoiLike(const std::string& strText, std::size_t nFrom = 0);
