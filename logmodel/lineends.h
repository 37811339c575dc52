#pragma once

#include <cstdint>
#include <vector>

// How the log takes and shows line ends.
// CrLf: a received CR is kept as CR LF, a received LF and NUL are not kept, and only a CR LF pair
// breaks a line (the terminal as it always was).
// AsReceived: every received byte is kept as it came; CR LF, a lone CR and a lone LF each break a
// line once.
enum class ELineEnds : uint8_t { CrLf, AsReceived };

// Appends to vecOut the offsets in [nFrom, nTo) of pData where a line break begins (the CR of a
// pair). cBefore is the byte before pData[nFrom] (0 at the start of the log); nAfter the byte after
// pData[nTo - 1], or -1 where nothing follows yet.
void FindLineBreaks(const char* pData, int nFrom, int nTo, char cBefore, int nAfter,
    ELineEnds eEnds, std::vector<uint32_t>& vecOut);
