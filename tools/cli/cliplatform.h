#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// The few things brem-cli asks of the system beyond its serial ports.

// Whether the stream is a terminal, which can take the live lines' cursor movements.
bool IsTerminal(FILE* pStream);
// The terminal's size in characters; false when it cannot be told.
bool TerminalSize(FILE* pStream, unsigned& nColumns, unsigned& nRows);
// Writes what the stream holds through to the disk; false when it could not.
bool SyncToDisk(FILE* pStream);
// "2024-05-31T09:12:44.031Z".
std::string UtcText(std::chrono::system_clock::time_point tp);
